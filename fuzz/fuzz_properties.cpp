// libFuzzer target: the settings store on arbitrary file contents. Each input is written to a
// scratch file and loaded. A file that fails to load must be reported, read as empty and left
// untouched; a file that loads must take a changed and a new setting, and the file written then
// must load again with both settings and with the other settings as they were.
#include "properties.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

namespace {

// Markup characters, the end of a CDATA section and a letter beyond ASCII, with single inner
// spaces only, so that condensing white space on reading leaves the value as it is.
const std::string kValue = "]]> <&>\"' -- \xC3\xA9";
const std::string kNewKey = "new \"<&>\" key";
const char* const kReadKeys[] = {"window_Width", "sounds", "", "entry"};

std::string dir, path;

void removeScratch() {
    std::remove(path.c_str());
    rmdir(dir.c_str());
}

void makeScratch() {
    for (const char* base : {"/dev/shm", "/tmp"}) {
        std::string tmpl = std::string(base) + "/terralux-fuzz-XXXXXX";
        if (mkdtemp(tmpl.data()) != nullptr) {
            dir = tmpl;
            path = dir + "/config.xml";
            atexit(removeScratch);
            return;
        }
    }
    std::perror("mkdtemp");
    abort();
}

void writeFile(const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (!out.flush()) abort();
}

std::string readFile() {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `step` and returns what it wrote to std::cerr, which is where the store reports.
template <typename Step>
std::string errorsOf(Step step) {
    std::ostringstream out;
    std::streambuf* saved = std::cerr.rdbuf(out.rdbuf());
    step();
    std::cerr.rdbuf(saved);
    return out.str();
}

void check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (path.empty()) makeScratch();
    writeFile(data, size);

    std::unique_ptr<Properties> store;
    const std::string err = errorsOf([&] { store = std::make_unique<Properties>(path); });
    const bool loaded = err.empty();
    check(loaded || err == "error loading file: " + path + "\n");

    std::string before[std::size(kReadKeys)];
    for (size_t i = 0; i < std::size(kReadKeys); ++i) {
        before[i] = store->Get(kReadKeys[i]);
        check(loaded || before[i].empty());
    }

    check(errorsOf([&] {
              store->Set("music", kValue);
              store->Set(kNewKey, kValue);
          }).empty());

    if (!loaded) {
        check(store->Get("music").empty() && store->Get(kNewKey).empty());
        check(readFile() == std::string(reinterpret_cast<const char*>(data), size));
        return 0;
    }
    check(store->Get("music") == kValue && store->Get(kNewKey) == kValue);
    std::unique_ptr<Properties> again;
    check(errorsOf([&] { again = std::make_unique<Properties>(path); }).empty());
    check(again->Get("music") == kValue && again->Get(kNewKey) == kValue);
    // A value that read as text reads the same from the file written. (A character reference to
    // U+0000 ends a text where it stands; a text it empties is not written, and the entry's next
    // child, if any, is read in its place.)
    for (size_t i = 0; i < std::size(kReadKeys); ++i) {
        check(before[i].empty() || again->Get(kReadKeys[i]) == before[i]);
    }
    return 0;
}
