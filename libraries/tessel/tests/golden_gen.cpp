// Writes the golden file of every registered class into a directory and
// removes the files of classes that are gone (see golden_sample.h).
//   tessel_golden_gen DIR
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>

#include "golden_sample.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::set<std::string> written;
    for (const auto& name : golden::Classes()) {
        golden::Object sample = golden::Sample(name);  // the golden test checks it further
        if (!sample) {
            std::fprintf(stderr, "%s: the sample does not read back\n", name.c_str());
            return 1;
        }
        const std::string bytes = golden::WireOf(*sample);
        std::ofstream out(golden::FileOf(dir, name), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "%s: cannot write\n", golden::FileOf(dir, name).c_str());
            return 1;
        }
        written.insert(name + ".bin");
    }
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string file = e->d_name;
            if (file.size() > 4 && file.compare(file.size() - 4, 4, ".bin") == 0 &&
                !written.count(file))
                unlink((dir + "/" + file).c_str());
        }
        closedir(d);
    }
    std::printf("%zu golden files in %s\n", written.size(), dir.c_str());
    return 0;
}
