// One sample object of every registered class, whose binary form is kept in
// tests/golden/<TypeName>.bin, written on one machine and compared on others
// (x86-64, 32-bit ARM). A sample is the default object with every scalar row
// set to the first telling value its checks take (all bytes set, a date after
// 2038, non-ASCII text); lists stay empty. After adding a class:
//   cmake --build build --target golden-bytes
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tessel/tessel.h"

namespace golden {

using Object = kora::Ref<kora::ISerialize>;

inline std::string Bytes(const kora::cSerializeBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.Data()), b.Size());
}

// The object as the object factory writes it (type name, then the object).
inline std::string WireOf(const kora::ISerialize& obj) {
    kora::cSerializeBuffer b;
    kora::cObjectFactory::Serialize(obj, b);
    return Bytes(b);
}

// Reads a form WireOf wrote; null when it does not read or leaves bytes over.
inline Object Read(const std::string& bytes) {
    kora::cSerializeBuffer b(bytes.data(), bytes.size());
    Object obj = Object::Adopt(kora::cObjectFactory::Deserialize(b));
    return b.Remaining() == 0 ? obj : Object();
}

// Every class the library registers, items first.
inline std::vector<std::string> Classes() {
    std::vector<std::string> all = tessel::RegisteredItemClasses();
    const auto& messages = tessel::RegisteredMessageClasses();
    all.insert(all.end(), messages.begin(), messages.end());
    return all;
}

inline std::string FileOf(const std::string& dir, const std::string& name) {
    return dir + "/" + name + ".bin";
}

inline bool Load(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

Object Sample(const std::string& name);

// The row table of `obj` and, in `record`, its record; null if written by hand.
inline const tessel::cRecordTable* RowsOf(kora::ISerialize& obj, tessel::cRecord*& record) {
    if (auto* item = dynamic_cast<tessel::cDBItem*>(&obj)) {
        record = item;
        return item->FieldTable();
    } else if (auto* payload = dynamic_cast<tessel::cPayload*>(&obj)) {
        record = payload;
        return &payload->Fields();
    } else if (auto* entry = dynamic_cast<tessel::cDBLogItem*>(&obj)) {
        record = entry;
        return &tessel::cDBLogItem::Fields();
    } else if (auto* batch = dynamic_cast<tessel::cDBLogResult*>(&obj)) {
        record = batch;
        return &tessel::cDBLogResult::Fields();
    }
    return nullptr;
}

namespace detail {

template <class M>
std::string MemberBytes(const M& m) {
    kora::cSerializeBuffer b;
    tessel::BinaryTraits<M>::Write(m, b);
    return Bytes(b);
}

// Values tried for a field, most telling first.
template <class T>
std::vector<typename tessel::FieldTraits<kora::s_basic_int<T>>::Wide> Candidates(
    const tessel::cFieldRow<kora::s_basic_int<T>>& row) {
    using Wide = typename tessel::FieldTraits<kora::s_basic_int<T>>::Wide;
    // Every byte different and the top bit of each width set.
    std::vector<Wide> values = {static_cast<Wide>(static_cast<T>(0xF1E2D3C4B5A69788ull))};
    for (const auto& range : row.m_ranges) {
        values.push_back(range.second);
        values.push_back(range.first);
    }
    for (Wide v : {7, 3, 2, 1}) values.push_back(v);
    return values;
}
inline std::vector<bool> Candidates(const tessel::cFieldRow<kora::s_bool>&) {
    return {true, false};
}
inline std::vector<std::string> Candidates(const tessel::cFieldRow<kora::s_string>&) {
    // Free text first, then what the common checks take.
    return {"Golden \xc3\xa9\xc3\xa0 text",
            "golden",
            "golden.example",
            "admin@golden.example",
            "192.0.2.33",
            "https://golden.example/ca",
            "1.3.6.1.4.1.99",
            "02:00:5E:10:00:01",
            "1"};
}
inline std::vector<kora::s_socket_addr> Candidates(const tessel::cFieldRow<kora::s_socket_addr>&) {
    return {kora::s_socket_addr("192.0.2.33", 0), kora::s_socket_addr("255.255.255.0", 0),
            kora::s_socket_addr("198.51.100.7", 0)};
}
inline std::vector<int64_t> Candidates(const tessel::cFieldRow<kora::cTime>&) {
    return {4102444800, 1234567890};  // 2100-01-01 does not fit a 32-bit time_t
}
inline std::vector<tessel::cValueRef> Candidates(const tessel::cFieldRow<tessel::cValueRef>&) {
    // A carried value: one item class that every release has.
    if (!kora::cObjectFactory::IsRegistered("cDBConfigSSH")) return {};
    return {Sample("cDBConfigSSH")};
}

// Sets a field of type M to its first candidate the row keeps and that differs.
template <class M>
bool Fill(tessel::cRecord& record, const tessel::cRow& any) {
    auto* row = dynamic_cast<const tessel::cFieldRow<M>*>(&any);
    if (!row) return false;
    if (!row->Has(tessel::kRowBinary)) return true;
    const std::string before = MemberBytes(row->Of(record));
    for (const auto& value : Candidates(*row)) {
        M probe;
        tessel::FieldTraits<M>::Store(probe, value);
        const std::string wanted = MemberBytes(probe);
        if (wanted == before) continue;
        // A row stores only what it accepts; one that ignores a value says yes.
        if (row->Set(record, value) && MemberBytes(row->Of(record)) == wanted) return true;
    }
    return true;
}

inline void FillRows(tessel::cRecord& record, const tessel::cRecordTable& table) {
    table.ForEachRow([&](const tessel::cRow& row) {
        Fill<kora::s_bool>(record, row) || Fill<kora::s_int8>(record, row) ||
            Fill<kora::s_uint8>(record, row) || Fill<kora::s_uint16>(record, row) ||
            Fill<kora::s_int32>(record, row) || Fill<kora::s_uint32>(record, row) ||
            Fill<kora::s_int64>(record, row) || Fill<kora::s_uint64>(record, row) ||
            Fill<kora::s_string>(record, row) || Fill<kora::s_socket_addr>(record, row) ||
            Fill<kora::cTime>(record, row) || Fill<tessel::cValueRef>(record, row);
    });
}

}  // namespace detail

// The sample of class `name` as read back from its own binary form; null if unknown.
inline Object Sample(const std::string& name) {
    Object obj = Object::Adopt(kora::cObjectFactory::CreateObject(name));
    if (!obj) return obj;
    if (auto* item = dynamic_cast<tessel::cDBItem*>(obj.get()))
        if (item->GetName().empty()) item->SetName("Golden1");
    tessel::cRecord* record = nullptr;
    if (const tessel::cRecordTable* table = RowsOf(*obj, record))
        detail::FillRows(*record, *table);  // hand-written classes stay default
    return Read(WireOf(*obj));
}

}  // namespace golden
