#!/usr/bin/perl
# Reads one tag of a FoxPro compound index (.CDX) with XBase::Index
# (Debian's libdbd-xbase-perl), a reader independent of the engine that
# wrote it.
#
#   cdx_crosscheck.pl INDEX TAG char|num
#
# Prints the tag's entries in index order, one a line: the record number,
# a tab, the key (a text without its trailing blanks, a number as Perl
# prints it). For a text tag it then looks every key up from the root and
# prints "not found: KEY" for each key that the search does not reach at
# its first entry.
use strict;
use warnings;
use XBase::Index;

my ($file, $tag, $type) = @ARGV;
die "usage: cdx_crosscheck.pl INDEX TAG char|num\n" unless defined $type;
my $index = XBase::Index->new($file, 'tag' => $tag, 'type' => $type eq 'num' ? 'N' : 'C')
    or die "cannot read $file: " . XBase::Index->errstr . "\n";

my @entries;
$index->prepare_select;
while (my ($key, $recno) = $index->fetch) {
    $key =~ s/ +$// if $type eq 'char';
    push @entries, [$key, $recno];
    print "$recno\t$key\n";
}
exit 0 unless $type eq 'char';

my %first;
for my $e (@entries) { $first{$e->[0]} = $e->[1] unless exists $first{$e->[0]}; }
for my $key (sort keys %first) {
    $index->prepare_select_eq($key);
    my ($found, $recno) = $index->fetch;
    $found =~ s/ +$// if defined $found;
    print "not found: $key\n" unless defined $found && $found eq $key && $recno == $first{$key};
}
