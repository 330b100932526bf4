// Posting one device's intake file through the back-end's Posting, under the
// posting journal, and putting each line where its fate says: posted lines
// leave the device's folder, kept lines stay in its intake file for the next
// pass, rejected lines go to "Rejected\yyyymmdd\<device>-<hhmmss>-
// transact.xml" (each line as the device wrote it, CR LF, in file order, so
// that copying that file into the device's folder as "transact.xml" hands it
// in again). A line is never in two of those places, and a killed pass
// leaves a journal from which the next one finishes the work (ResumePosting).
#ifndef LUMBRA_INTAKE_DEVICE_POSTING_H_
#define LUMBRA_INTAKE_DEVICE_POSTING_H_

namespace lumbra {

struct RunContext;
class Posting;

// Posts the device's intake file (null posting: the back-end takes no
// postings, and the lines are dropped; the archive keeps them). False when
// the posting left a line half-done that it could not undo: the journal
// stays for the next pass, and nothing more may be posted in this one.
bool PostDeviceFile(RunContext& ctx, Posting* posting, int device);

// Finishes what a journal left by an earlier pass describes: undoes the line
// that was under way, then posts the rest of that device's file, or only
// puts its lines where they belong. Sets *posted to the device whose lines
// it posted in this pass (0 when none). False when the journal could not be
// dealt with (a lock not had, a file that cannot be written): nothing may be
// posted in this pass then, since the half-done line's changes might be
// overwritten.
bool ResumePosting(RunContext& ctx, Posting* posting, int* posted);

}  // namespace lumbra

#endif  // LUMBRA_INTAKE_DEVICE_POSTING_H_
