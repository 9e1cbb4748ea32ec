// The settings store on real files in a scratch directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "properties.h"

namespace fs = std::filesystem;

namespace {

class PropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The first free name: creating a directory is atomic, so parallel runs never share one.
        fs::path made;
        for (int i = 0;; ++i) {
            made = fs::temp_directory_path() / ("terralux-props-" + std::to_string(i));
            if (fs::create_directory(made)) break;
        }
        dir = made.string();
        path = (made / "config.xml").string();
    }
    void TearDown() override { fs::remove_all(dir); }
    void write(const std::string& text) { std::ofstream(path) << text; }
    std::string read() {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir, path;
};

const char* kConfig =
    "<?xml version=\"1.0\" ?>\n"
    "<settings>\n"
    "  <entry key=\"window_Width\">800</entry>\n"
    "  <entry key=\"window_width\">1</entry>\n"
    "  <other><entry key=\"nested\">x</entry></other>\n"
    "  <!-- a comment -->\n"
    "  <entry key=\"music\">1</entry>\n"
    "  <entry key=\"music\">0</entry>\n"
    "  <entry>no key</entry>\n"
    "  <entry key=\"empty\"></entry>\n"
    "</settings>\n";

TEST_F(PropertiesTest, LookupFollowsTheFileRules) {
    write(kConfig);
    testing::internal::CaptureStderr();
    Properties p(path);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(p.Get("window_Width"), "800");
    EXPECT_EQ(p.Get("window_width"), "1");  // case matters
    EXPECT_EQ(p.Get("WINDOW_WIDTH"), "");
    EXPECT_EQ(p.Get("music"), "1");  // the first of two wins
    EXPECT_EQ(p.Get("nested"), "");  // only the root's own children count
    EXPECT_EQ(p.Get("empty"), "");
    EXPECT_EQ(p.Get("missing"), "");
    EXPECT_EQ(p.Get(""), "");  // the entry without a key is skipped, not matched
}

TEST_F(PropertiesTest, FilesThatDoNotLoadReadAsEmptyAndAreNeverWritten) {
    std::string deep = "<config>";
    for (int i = 0; i < 200000; ++i) deep += "<a>";
    for (int i = 0; i < 200000; ++i) deep += "</a>";
    deep += "</config>";
    struct Case {
        const char* name;
        const char* text;  // nullptr: no file at all
    } cases[] = {
        {"missing", nullptr},
        {"malformed", "<config><entry key=\"a\">1</entry>"},
        {"empty", ""},
        {"no root", "<?xml version=\"1.0\" ?>\n<!-- nothing else -->\n"},
        {"deep nesting", deep.c_str()},
        // Ends in the first byte of a two-byte UTF-8 sequence.
        {"cut-off sequence", "<?xml version=try><config>\n   version=try><config>\n config>\xCF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.text) write(c.text);
        testing::internal::CaptureStderr();
        Properties p(path);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "error loading file: " + path + "\n");
        EXPECT_EQ(p.Get("a"), "");
        testing::internal::CaptureStderr();
        p.Set("a", "2");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        if (c.text) {
            EXPECT_EQ(read(), c.text);
        } else {
            EXPECT_FALSE(std::ifstream(path).good());
        }
        std::remove(path.c_str());
    }
}

TEST_F(PropertiesTest, SetRewritesTheFileInPlaceOrAppends) {
    write(kConfig);
    Properties p(path);
    p.Set("music", "7");
    p.Set("window_Height", "600");
    p.Set("empty", "filled");
    EXPECT_EQ(p.Get("music"), "7");
    EXPECT_EQ(p.Get("window_Height"), "600");
    EXPECT_EQ(p.Get("empty"), "filled");

    // What was saved reads back the same, in the same order, the second "music" untouched.
    testing::internal::CaptureStderr();
    Properties again(path);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(again.Get("music"), "7");
    EXPECT_EQ(again.Get("window_Height"), "600");
    EXPECT_EQ(again.Get("empty"), "filled");
    EXPECT_EQ(again.Get("window_Width"), "800");
    std::string text = read();
    size_t first = text.find("\"music\">7<");
    size_t second = text.find("\"music\">0<");
    size_t added = text.find("\"window_Height\">600<");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(second, std::string::npos);
    ASSERT_NE(added, std::string::npos);
    EXPECT_LT(first, second);
    EXPECT_LT(second, added);  // the new entry is the root's last child
    EXPECT_LT(added, text.find("</settings>"));
}

TEST_F(PropertiesTest, AFailedSaveIsReportedForOldAndNewKeys) {
    // After the load, the file is replaced by something that cannot take the new text: a
    // directory of the same name (the open fails), or a link to a full device (the writes fail;
    // Windows has no such device).
    struct Case {
        const char* name;
        bool directory;
    } cases[] = {{"directory", true},
#ifndef _WIN32
                 {"full device", false}
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write(kConfig);
        Properties p(path);
        fs::remove(path);
        if (c.directory) {
            ASSERT_TRUE(fs::create_directory(path));
        } else {
            fs::create_symlink("/dev/full", path);
        }
        testing::internal::CaptureStderr();
        p.Set("music", "3");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "error saving file: " + path + "\n");
        testing::internal::CaptureStderr();
        p.Set("brand_new", "x");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "error saving file: " + path + "\n");
        EXPECT_EQ(p.Get("music"), "3");  // the change stays in memory
        EXPECT_EQ(p.Get("brand_new"), "x");
        fs::remove(path);
    }
}

}  // namespace
