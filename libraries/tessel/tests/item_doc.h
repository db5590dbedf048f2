// Helpers for item tests: JSON documents, setter tables, stored forms, display
// entries and the process's feature set.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tessel/tessel.h"
#include "wire.h"

namespace testdoc {

inline Json::Value J(const char* text) {
    Json::Value v;
    EXPECT_TRUE(tessel::ParseJson(text, v)) << text;
    return v;
}

// Sets each member of `changes` in `object`; a null member removes it.
inline void Apply(Json::Value& object, const Json::Value& changes) {
    for (const auto& key : changes.getMemberNames()) {
        if (changes[key].isNull())
            object.removeMember(key);
        else
            object[key] = changes[key];
    }
}

// Every member of `expected` as `data` holds it.
inline void ExpectMembers(const Json::Value& data, const char* expected) {
    const Json::Value want = J(expected);
    for (const auto& key : want.getMemberNames())
        EXPECT_EQ(data[key].toStyledString(), want[key].toStyledString()) << key;
}

// The fields of a row "a | b | c", each with single blanks between its words.
inline std::vector<std::string> Split(const std::string& row) {
    std::vector<std::string> fields(1);
    std::istringstream in(row);
    for (std::string word; in >> word;) {
        if (word == "|")
            fields.emplace_back();
        else
            fields.back() += (fields.back().empty() ? "" : " ") + word;
    }
    return fields;
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

// The display entries of `item` as "key=value, ..." in key order.
inline std::string InfoOf(tessel::cDBItem& item) {
    kora::cMap<kora::s_string, kora::s_string> info;
    std::string text;
    if (item.GetInfo(info))
        for (const auto& e : info) text += (text.empty() ? "" : ", ") + e.first + "=" + e.second;
    return text;
}

// Gives the process exactly `names` as its features while it lives.
class Features {
  public:
    explicit Features(const std::vector<std::string>& names) {
        tessel::cDBFeatureList().Serialize(m_saved);
        testwire::Wire w;
        w.Version(1).Str("FeatureList").Str("/Features/").U32(uint32_t(names.size()));
        for (const auto& n : names) w.Str(n);
        kora::cSerializeBuffer b = w.Buffer();
        tessel::cDBFeatureList().Deserialize(b);
    }
    ~Features() { tessel::cDBFeatureList().Deserialize(m_saved); }

  private:
    kora::cSerializeBuffer m_saved;
};

}  // namespace testdoc
