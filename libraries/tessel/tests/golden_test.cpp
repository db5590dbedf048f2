// Every registered class against its golden file (see golden_sample.h);
// TESSEL_GOLDEN_DIR may name files written elsewhere, e.g. on 32-bit ARM.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "golden_sample.h"

namespace {

std::string GoldenDir() {
    const char* dir = std::getenv("TESSEL_GOLDEN_DIR");
    return dir && *dir ? dir : TESSEL_GOLDEN_SOURCE_DIR;
}

const char* const kRegenerate = "cmake --build build --target golden-bytes";

}  // namespace

// Each class's sample writes its file's bytes, and the file reads back and
// writes them again; a file whose class is gone is stale.
TEST(Golden, EveryClassWritesAndReadsItsFile) {
    size_t live = kora::GC::LiveCount();
    const std::string dir = GoldenDir();
    for (const auto& name : golden::Classes()) {
        std::string file;
        if (!golden::Load(golden::FileOf(dir, name), file)) {
            ADD_FAILURE() << name << " has no golden file in " << dir << "; run " << kRegenerate;
            continue;
        }
        golden::Object sample = golden::Sample(name);
        ASSERT_TRUE(sample) << name << ": its sample does not read back";
        EXPECT_EQ(golden::WireOf(*sample), file)
            << name << " writes other bytes than its golden file (if the class changed on "
            << "purpose, run " << kRegenerate << ")";
        golden::Object back = golden::Read(file);
        ASSERT_TRUE(back) << name << ": its golden file does not read";
        EXPECT_EQ(back->TypeName(), name);
        EXPECT_EQ(golden::WireOf(*back), file) << name;
    }
    EXPECT_EQ(kora::GC::LiveCount(), live);

    const auto classes = golden::Classes();
    const std::set<std::string> registered(classes.begin(), classes.end());
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    size_t files = 0;
    while (dirent* e = readdir(d)) {
        std::string file = e->d_name;
        if (file.size() < 5 || file.compare(file.size() - 4, 4, ".bin") != 0) continue;
        ++files;
        EXPECT_TRUE(registered.count(file.substr(0, file.size() - 4)))
            << file << " names no registered class; run " << kRegenerate;
    }
    closedir(d);
    EXPECT_GT(files, 0u);
}
