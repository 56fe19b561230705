// The work files of the applier's staging folder "TempUpdata\" are named
// after the game files of a patch: for each file it adds or changes,
// "Unzip/" + name is the unzipped copy (and, once rebuilt, a changed file),
// name itself the payload (a new file), and "Unzip/Temp/" + name the work copy
// of an LZMA chunk container. Two game files whose work files meet would
// take each other's bytes, so such a patch is refused: by the publisher
// before it is written, by the applier before anything is analysed.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

// Adds every folder above `path` ("/" separators) to `folders`: "a/b/c" adds
// "a" and "a/b".
void AddParentFolders(std::string_view path, std::set<std::string>& folders);

struct StagedFile {
  std::string name;   // relative to the game folder, "\" or "/" separators
  bool lzma = false;  // its unzipped copy is an LZMA chunk container
};

// Empty when every file has its staging paths to itself, else the reason: two
// files would use one path (names compared as FileSystemName gives them, so
// one file listed twice under two spellings meets itself), or one file's path
// would be the folder of another's.
std::string FindStagingConflict(const std::vector<StagedFile>& files);
