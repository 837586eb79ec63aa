#include "src/base/temp_registry.h"

#include <algorithm>
#include <unistd.h>
#include <vector>

#include "src/base/error.h"

namespace {

std::vector<std::string> &listed() {
    static std::vector<std::string> files;
    return files;
}

void remove_listed() {
    for (const std::string &f : listed())
        unlink(f.c_str());
    listed().clear();
}

}  // namespace

void remember_temp_file(const std::string &path) {
    register_cleanup(CleanupStage::temp_files, remove_listed);
    listed().push_back(path);
}

void forget_temp_file(const std::string &path) {
    auto &v = listed();
    v.erase(std::remove(v.begin(), v.end(), path), v.end());
}
