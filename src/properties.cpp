#include "properties.h"

#include <iostream>

Properties::Properties(std::string filename) : fn(filename) {
    // An empty file fails to load without entering the error state, and a file holding only a
    // declaration or comments loads without a root element: both are reported and read as empty.
    if (!doc.LoadFile(fn.c_str(), TIXML_ENCODING_UNKNOWN) || doc.RootElement() == nullptr) {
        std::cerr << "error loading file: " << filename << std::endl;
    }
}

bool Properties::Loaded() { return !doc.Error() && doc.RootElement() != nullptr; }

TiXmlElement* Properties::Find(const std::string& key) {
    for (TiXmlNode* node = doc.RootElement()->FirstChild("entry"); node != nullptr;
         node = node->NextSibling("entry")) {
        TiXmlElement* entry = node->ToElement();
        if (entry == nullptr) continue;
        const char* name = entry->Attribute("key");
        if (name != nullptr && key == name) return entry;  // entries without a key are skipped
    }
    return nullptr;
}

std::string Properties::Get(std::string key) {
    if (!Loaded()) return std::string();
    TiXmlElement* entry = Find(key);
    if (entry == nullptr || entry->FirstChild() == nullptr) return std::string();
    return std::string(entry->FirstChild()->Value());
}

void Properties::Set(std::string key, std::string value) {
    if (!Loaded()) return;
    TiXmlElement* entry = Find(key);
    if (entry != nullptr) {
        if (entry->FirstChild() != nullptr) {
            entry->FirstChild()->SetValue(value.c_str());
        } else {
            entry->LinkEndChild(new TiXmlText(value.c_str()));
        }
    } else {
        entry = new TiXmlElement("entry");
        entry->SetAttribute("key", key.c_str());
        entry->LinkEndChild(new TiXmlText(value.c_str()));
        doc.RootElement()->LinkEndChild(entry);
    }
    // A save that failed must not look like success, whichever way the entry came to be.
    if (!doc.SaveFile(fn.c_str())) {
        std::cerr << "error saving file: " << fn << std::endl;
    }
}
