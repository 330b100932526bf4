#include "run/cli.h"

#include "backends/aurora/dbf_dump.h"
#include "text/cp1252.h"
#include "platform/env.h"
#include "text/lines.h"
#include "run/run_driver.h"
#include "run/status_command.h"
#include "text/text_fields.h"

namespace lumbra {
namespace {

constexpr char kUsage[] =
    "usage: lumbra [--dir DIR] [--no-dialogs]\n"
    "                               run one synchronisation pass in DIR\n"
    "                               (default: the folder that holds the program);\n"
    "                               --no-dialogs: errors never wait in a message\n"
    "                               box, they go to standard error\n"
    "       lumbra decode FILE...   print device tables decoded, fields by tabs\n"
    "       lumbra encode           code standard input line by line, as device\n"
    "                               tables and \"filestats.dat\" are coded\n"
    "       lumbra dbf FILE [--deleted]\n"
    "                               show what a DBF table holds: a line of field\n"
    "                               names, then one line per record, fields by\n"
    "                               tabs; --deleted adds deleted records, marked\n"
    "                               by a first field \"*\"\n"
    "       lumbra dbf FILE --index show the tags of the table's structural index\n"
    "                               (.CDX) and their keys in index order\n"
    "       lumbra dbf FILE --check check every tag against the table; exit\n"
    "                               status 1 when they differ\n"
    "       lumbra status [--dir DIR]\n"
    "                               what the last passes did, as Lumbra.html shows\n"
    "                               it; exit status 0 when nothing needs attention\n"
    "       lumbra --help | --version\n";

void Put(FILE* f, std::string_view s) { std::fwrite(s.data(), 1, s.size(), f); }

int Usage(const CliStreams& io, const std::string& problem) {
  Put(io.err, "lumbra: " + problem + "\n");
  Put(io.err, kUsage);
  return kExitUsage;
}

int Decode(Env* env, const std::vector<std::string>& files, const CliStreams& io) {
  int status = 0;
  for (const std::string& name : files) {
    std::string bytes;
    Status s = env->ReadFile(name, &bytes);
    if (!s.ok()) {
      Put(io.err, "lumbra: " + s.ToString() + "\n");
      status = 1;
      continue;
    }
    if (files.size() > 1) Put(io.out, "==> " + name + " <==\n");
    LineReader reader(bytes);
    std::string_view line;
    while (reader.Next(&line)) {
      std::string text = DecodeLine(line);
      Put(io.out, io.out_is_terminal ? Cp1252ToUtf8(text) : text);
      Put(io.out, "\n");
    }
  }
  return status;
}

int Encode(const CliStreams& io) {
  std::string input;
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, io.in)) > 0) input.append(buf, n);
  std::string out;
  LineReader reader(input);
  std::string_view line;
  size_t number = 0, folded = 0, first_folded = 0;
  while (reader.Next(&line)) {
    ++number;
    if (HasFoldedBytes(line) && folded++ == 0) first_folded = number;
    AppendLine(&out, EncodeLine(line));
  }
  Put(io.out, out);
  // The coding has no place for these letters: what the devices get differs
  // from what was written, and names matched later must allow for it.
  if (folded > 0) {
    Put(io.err, "lumbra: " + std::to_string(folded) + (folded == 1 ? " line" : " lines") +
                    " (the first: line " + std::to_string(first_folded) +
                    ") held bytes 252 to 255, which the coding lacks; they were coded as the "
                    "letters u, y, t and y\n");
  }
  return 0;
}

int ShowTable(Env* env, const std::vector<std::string>& args, const CliStreams& io) {
  std::string file, option;
  for (const std::string& a : args) {
    if ((a == "--deleted" || a == "--index" || a == "--check") && option.empty()) {
      option = a;
    } else if (file.empty() && !a.empty() && a[0] != '-') {
      file = a;
    } else {
      return Usage(io, "dbf takes one table file and one of --deleted, --index, --check");
    }
  }
  if (file.empty()) return Usage(io, "dbf needs a table file");
  auto out = [&io](std::string_view piece) { Put(io.out, piece); };
  bool agrees = true;
  Status s = option == "--index"   ? DumpIndex(env, file, out)
             : option == "--check" ? CheckIndex(env, file, out, &agrees)
                                   : DumpTable(env, file, option == "--deleted", out);
  if (!s.ok()) {
    Put(io.err, "lumbra: " + s.ToString() + "\n");
    return 1;
  }
  return agrees ? 0 : 1;
}

// A pass: --dir DIR and --no-dialogs, each at most once, in any order.
int Pass(Env* env, const std::vector<std::string>& args, const CliStreams& io) {
  RunOptions options;
  bool have_dir = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--no-dialogs" && !options.no_dialogs) {
      options.no_dialogs = true;
    } else if (args[i] == "--dir" && !have_dir) {
      if (i + 1 == args.size() || args[i + 1].empty()) return Usage(io, "--dir needs a folder");
      options.dir = args[++i];
      have_dir = true;
    } else {
      return Usage(io, "unknown argument '" + args[i] + "'");
    }
  }
  return RunMain(env, options);
}

}  // namespace

int RunCommandLine(Env* env, const std::vector<std::string>& args, const CliStreams& io) {
  if (args.empty()) return RunMain(env, RunOptions{});
  const std::string& first = args[0];
  if (first == "--help" || first == "-h") {
    Put(io.out, kUsage);
    return 0;
  }
  if (first == "--version") {
    Put(io.out, "lumbra " LUMBRA_VERSION "\n");
    return 0;
  }
  if (first == "decode") {
    if (args.size() < 2) return Usage(io, "decode needs at least one file");
    return Decode(env, std::vector<std::string>(args.begin() + 1, args.end()), io);
  }
  if (first == "encode") {
    if (args.size() != 1) return Usage(io, "encode reads standard input and takes no argument");
    return Encode(io);
  }
  if (first == "status") {
    return ShowStatus(env, std::vector<std::string>(args.begin() + 1, args.end()), io);
  }
  if (first == "dbf") {
    return ShowTable(env, std::vector<std::string>(args.begin() + 1, args.end()), io);
  }
  return Pass(env, args, io);
}

}  // namespace lumbra
