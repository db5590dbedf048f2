// Helpers for item tests: whole JSON documents with a few members changed,
// tables of setter cases, and reading stored forms.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "tessel/tessel.h"
#include "wire.h"

namespace testdoc {

inline Json::Value J(const char* text) {
    Json::Value v;
    EXPECT_TRUE(tessel::ParseJson(text, v)) << text;
    return v;
}

// The document `item` writes, with `changes` applied to "Data" (a null
// member removes it).
inline std::string Doc(tessel::cDBItem& item, const char* changes = "{}") {
    Json::Value root;
    item.ToJSON(root, false);
    Json::Value c = J(changes);
    for (const auto& key : c.getMemberNames()) {
        if (c[key].isNull())
            root["Data"].removeMember(key);
        else
            root["Data"][key] = c[key];
    }
    return tessel::StyledJson(root);
}

template <class T>
std::string Doc(const char* changes = "{}") {
    T item;
    return Doc(item, changes);
}

// Loads `text` into `item`; returns the refused keys, and the result in `ok`.
inline std::set<std::string> Load(tessel::cDBItem& item, const std::string& text, bool& ok) {
    std::set<std::string> rejected;
    ok = item.FromJSON(text, rejected);
    return rejected;
}

// One setter call and whether it must be accepted.
struct SetterCase {
    const char* what;
    std::function<bool()> set;
    bool accepted;
};

inline void RunSetters(const std::vector<SetterCase>& cases) {
    for (const auto& c : cases) EXPECT_EQ(c.set(), c.accepted) << c.what;
}

// Reads a stored form; the whole form must be consumed when it is accepted.
inline int ReadStored(kora::ISerialize& obj, const testwire::Wire& wire) {
    kora::cSerializeBuffer b = wire.Buffer();
    int got = obj.Deserialize(b);
    if (got) {
        EXPECT_EQ(b.Remaining(), 0u) << obj.TypeName();
    }
    return got;
}

}  // namespace testdoc
