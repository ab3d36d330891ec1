#include "app/path_value.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "app/temp_folder.h"

namespace tarnwick {
namespace {

struct ExtensionCase {
    const char* path;
    const char* ext;
    const char* expected;
};

TEST(PathValue, SetExtension) {
    const ExtensionCase cases[] = {
        {"/opt/prog/tarnwick", ".INI", "/opt/prog/tarnwick.INI"},
        {"/opt/prog/Tarnwick.exe", ".INI", "/opt/prog/Tarnwick.INI"},
        {"/data/x/image.NB0", "img", "/data/x/image.img"},  // a period is put in
        {"/data/x/image", "img", "/data/x/image.img"},
        {"image.NB0", ".img", "image.img"},
        {"/data/v1.2/image", ".exp", "/data/v1.2/image.exp"},  // a dot in the folder is not one
        {"/data/a.b.c", ".img", "/data/a.b.img"},              // only the last extension goes
        {"/data/.hidden", ".img", "/data/.hidden.img"},        // a hidden name has no extension
        {"/data/x.img", "", "/data/x"},
    };
    for (const auto& c : cases) {
        PathValue p(c.path);
        p.SetExtension(c.ext);
        EXPECT_EQ(p.full, c.expected) << c.path << " + " << c.ext;
        EXPECT_EQ(p.extension, c.ext);
        EXPECT_TRUE(p.drive.empty());
    }
}

struct PartsCase {
    const char* path;
    const char* folder;
    const char* name;
    const char* extension;
};

TEST(PathValue, Parts) {
    const PartsCase cases[] = {
        {"/a/b.txt", "/a/", "b.txt", ".txt"},
        {"/a/b.EXP", "/a/", "b.EXP", ".EXP"},
        {"/a/b", "/a/", "b", ""},
        {"b.txt", "", "b.txt", ".txt"},
        {"/b.txt", "/", "b.txt", ".txt"},
        {"/a/", "/a/", "", ""},
        {"rel/dir/f.img", "rel/dir/", "f.img", ".img"},
    };
    for (const auto& c : cases) {
        PathValue p(c.path);
        EXPECT_EQ(p.FolderPart(), c.folder) << c.path;
        EXPECT_EQ(p.NamePart(), c.name) << c.path;
        EXPECT_EQ(p.ExtensionPart(), c.extension) << c.path;
        EXPECT_EQ(p.full, c.path) << "reading a part changes nothing";
        EXPECT_EQ(p.folder, c.folder);
        EXPECT_EQ(p.drive, "");
    }
}

TEST(PathValue, TrimTrailingSlash) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/", "/a"}, {"/a", "/a"}, {"/a//", "/a/"}, {"/", "/"}, {"", ""},
    };
    for (const auto& [in, out] : cases) {
        PathValue p(in);
        p.TrimTrailingBackslash();
        EXPECT_EQ(p.full, out) << in;
    }
}

TEST(PathValue, NewValueIsEmptyAndCopiesWhole) {
    PathValue empty;
    EXPECT_TRUE(empty.full.empty() && empty.folder.empty() && empty.name.empty() &&
                empty.extension.empty() && empty.drive.empty());
    PathValue a("/x/y.img");
    a.FolderPart();
    PathValue b = a;
    b.SetExtension(".exp");
    EXPECT_EQ(a.full, "/x/y.img");
    EXPECT_EQ(b.full, "/x/y.exp");
}

TEST(PathValue, CanOpenForReading) {
    testing::TempFolder temp;
    const std::string file = temp.Write("f.img", "x");
    EXPECT_TRUE(PathValue(file).CanOpenForReading());
    EXPECT_FALSE(PathValue(temp / "missing.img").CanOpenForReading());
    EXPECT_FALSE(PathValue(temp.Path()).CanOpenForReading()) << "a folder is not a file";
    EXPECT_FALSE(PathValue("").CanOpenForReading());
}

}  // namespace
}  // namespace tarnwick
