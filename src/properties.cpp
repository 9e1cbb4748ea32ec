#include "properties.h"

#include <cstdio>
#include <iostream>

using tinyxml2::XMLElement;
using tinyxml2::XMLNode;
using tinyxml2::XMLText;

namespace {

// Text beside the root element is not well-formed. The library lets it through when a stray end
// tag follows it (and ignores everything after that tag), but refuses the file it then writes.
bool TextOutsideRoot(const tinyxml2::XMLDocument& doc) {
    for (const XMLNode* node = doc.FirstChild(); node != nullptr; node = node->NextSibling()) {
        if (node->ToText() != nullptr) return true;
    }
    return false;
}

}  // namespace

// Text is read with its white space condensed: leading and trailing white space dropped, each
// run inside reduced to one space. Entities are decoded; the file is read as UTF-8.
Properties::Properties(std::string filename)
    : fn(filename), doc(true, tinyxml2::COLLAPSE_WHITESPACE) {
    // Missing, unreadable, empty, not well-formed or nested too deeply: LoadFile fails. A file
    // holding only a declaration or comments loads without a root element, and one with text
    // beside its root loads too: both count as failures.
    loaded = doc.LoadFile(fn.c_str()) == tinyxml2::XML_SUCCESS && doc.RootElement() != nullptr &&
             !TextOutsideRoot(doc);
    if (!loaded) {
        doc.Clear();
        std::cerr << "error loading file: " << filename << std::endl;
    }
}

XMLElement* Properties::Find(const std::string& key) {
    for (XMLElement* entry = doc.RootElement()->FirstChildElement("entry"); entry != nullptr;
         entry = entry->NextSiblingElement("entry")) {
        const char* name = entry->Attribute("key");
        if (name != nullptr && key == name) return entry;  // entries without a key are skipped
    }
    return nullptr;
}

std::string Properties::Get(std::string key) {
    if (!loaded) return std::string();
    XMLElement* entry = Find(key);
    if (entry == nullptr || entry->FirstChild() == nullptr) return std::string();
    return std::string(entry->FirstChild()->Value());
}

void Properties::Set(std::string key, std::string value) {
    if (!loaded) return;
    XMLElement* entry = Find(key);
    if (entry == nullptr) {
        entry = doc.NewElement("entry");
        entry->SetAttribute("key", key.c_str());
        doc.RootElement()->InsertEndChild(entry);
    }
    // The value becomes the entry's first child, as plain text: an element or comment found
    // there first is left as it is rather than renamed or rewritten.
    XMLText* text = entry->FirstChild() != nullptr ? entry->FirstChild()->ToText() : nullptr;
    if (text != nullptr) {
        text->SetValue(value.c_str());
        text->SetCData(false);
    } else {
        entry->InsertFirstChild(doc.NewText(value.c_str()));
    }
    // A save that failed, on opening, writing or closing, must not look like success, whichever
    // way the entry came to be.
    FILE* file = std::fopen(fn.c_str(), "w");
    bool saved = file != nullptr;
    if (saved) {
        tinyxml2::XMLPrinter printer(file);
        doc.Print(&printer);
        saved = std::ferror(file) == 0;
        saved = std::fclose(file) == 0 && saved;
    }
    if (!saved) std::cerr << "error saving file: " << fn << std::endl;
}
