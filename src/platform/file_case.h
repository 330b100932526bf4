// Names in a folder copied from Windows, as it holds them: the same
// letters in any case ("dmaster.dbf" for "DMASTER.DBF", "IMAGES/I17.JPG" for
// "images/i17.jpg").
#ifndef LUMBRA_PLATFORM_FILE_CASE_H_
#define LUMBRA_PLATFORM_FILE_CASE_H_

#include <string>
#include <vector>

namespace lumbra {

class Env;

// The path of an existing file or folder named like path: path itself when
// it exists, otherwise the same path with each missing part (file or folder)
// matched case-insensitively (ASCII letters) in its parent folder. An exact
// spelling is preferred; among several case-insensitive matches the first by
// byte order wins. False when nothing matches.
bool FindPathIgnoringCase(Env* env, const std::string& path, std::string* found);

// The files beside an existing file that share its name with another
// extension (memo files and indexes beside a table): for each of extensions
// (".fpt"), the path of the sibling found, or "" when there is none. The
// sibling is looked for with the extension in the case of the file's own
// extension ("STOCK.DBF" gives "STOCK.FPT", "stock.dbf" "stock.fpt"), then
// in the other case, then with the whole name in lower and in upper case,
// and, with search_folder, in any case (the folder is listed at most once).
std::vector<std::string> FindSiblings(Env* env, const std::string& file,
                                      const std::vector<std::string>& extensions,
                                      bool search_folder);

}  // namespace lumbra

#endif  // LUMBRA_PLATFORM_FILE_CASE_H_
