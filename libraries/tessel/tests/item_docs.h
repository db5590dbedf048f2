// Helpers for item tests: JSON documents made from a default item with a few
// members changed, stored forms read as a whole, and the process's feature
// set held for the length of a test.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <set>
#include <string>

#include "tessel/tessel.h"
#include "wire.h"

namespace itemdocs {

// The JSON document of a default T whose "Data" has `changes` applied (a
// null member removes it).
template <class T>
std::string DocWith(const char* changes) {
    T item;
    Json::Value root, c;
    item.ToJSON(root, false);
    EXPECT_TRUE(tessel::ParseJson(changes, c)) << changes;
    for (const auto& key : c.getMemberNames()) {
        if (c[key].isNull())
            root["Data"].removeMember(key);
        else
            root["Data"][key] = c[key];
    }
    return tessel::StyledJson(root);
}

// What FromJSON made of a document: the result and the refused keys.
struct Loaded {
    bool ok;
    std::set<std::string> rejected;
};
template <class T>
Loaded Load(T& item, const char* changes) {
    Loaded l;
    l.ok = item.FromJSON(DocWith<T>(changes), l.rejected);
    return l;
}

// The stored header: version, then name "x" and directory "/".
inline testwire::Wire Head(uint16_t version) {
    testwire::Wire w;
    w.Version(version).Str("x").Str("/");
    return w;
}

// Reads `w` into `item`; true only when accepted and every byte was used.
template <class T>
bool ReadAll(T& item, const testwire::Wire& w) {
    kora::cSerializeBuffer b = w.Buffer();
    return item.Deserialize(b) && b.Remaining() == 0;
}

// The display entries of `item`; empty when it has none.
using Entries = std::map<std::string, std::string>;
inline Entries InfoOf(tessel::cDBItem& item) {
    kora::cMap<kora::s_string, kora::s_string> info;
    if (!item.GetInfo(info)) return {};
    return Entries(info.begin(), info.end());
}

// Sets the process's feature set to `names` and restores it afterwards.
class Features {
  public:
    explicit Features(std::initializer_list<const char*> names) {
        tessel::cDBFeatureList().Serialize(m_saved);
        testwire::Wire w;
        w.Version(1).Str("FeatureList").Str("/Features/").U32(uint32_t(names.size()));
        for (const char* n : names) w.Str(n);
        kora::cSerializeBuffer b = w.Buffer();
        tessel::cDBFeatureList().Deserialize(b);
    }
    ~Features() { tessel::cDBFeatureList().Deserialize(m_saved); }

  private:
    kora::cSerializeBuffer m_saved;
};

}  // namespace itemdocs
