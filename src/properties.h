// A key/value store of text settings kept in one XML file:
//
//   <root>
//       <entry key="window_Width">800</entry>
//       ...
//   </root>
//
// Each setting is an `entry` child of the root element; its `key` attribute names it and its text
// is the value. Other children are skipped; the first entry with a key wins.
#ifndef TERRALUX_PROPERTIES_H
#define TERRALUX_PROPERTIES_H

#include <string>

#include <tinyxml2.h>

class Properties {
public:
    explicit Properties(std::string filename);

    // The text stored under `key`; empty when there is none or the file did not load.
    std::string Get(std::string key);
    // Stores `value` under `key` (appending a new entry if needed) and rewrites the whole file.
    // Does nothing when the file did not load.
    void Set(std::string key, std::string value);

private:
    tinyxml2::XMLElement* Find(const std::string& key);

    std::string fn;
    tinyxml2::XMLDocument doc;
    bool loaded = false;
};

#endif
