// The walkers of the field engine: binary form, defaults, JSON and coverage.
#include "tessel/fields.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "kora/helper.h"

namespace tessel {

bool CheckMember(const std::string& key, bool& ok, const Json::Value& object, unsigned kind) {
    if (!object.isObject() || !object.isMember(key)) {
        ok = false;
        return false;
    }
    const Json::Value& v = object[key];
    bool pass = false;
    switch (kind) {
        case kJsonAny:
            pass = true;
            break;
        case kJsonString:
            pass = v.isString();
            break;
        case kJsonInt:
            pass = v.isInt();
            break;
        case kJsonUInt:
            pass = v.isUInt();
            break;
        case kJsonBool:
            pass = v.isBool();
            break;
        case kJsonArray:
            pass = v.isConvertibleTo(Json::arrayValue);
            break;
        case kJsonInt64:
            pass = v.isInt64();
            break;
        case kJsonUInt64:
            pass = v.isUInt64();
            break;
        default:
            pass = false;
            break;
    }
    if (!pass) ok = false;
    return pass;
}

const Json::Value& MemberOf(const Json::Value& object, const char* key) {
    static const Json::Value null;
    if (!object.isObject()) return null;
    const Json::Value* found = object.find(key, key + std::char_traits<char>::length(key));
    return found ? *found : null;
}

void JsonIn::Refuse(const char* key) {
    ok = false;
    if (rejected && key && *key) rejected->insert(key);
}

bool ReadScalarIfVersion1(kora::cSerializeBuffer& b, void* bytes, unsigned size, bool& read) {
    uint16_t version = 0;
    if (!b.ReadU16(version)) return false;
    read = version == 1;
    return !read || b.Read(bytes, size) != 0;
}

bool ReadElementCount(kora::cSerializeBuffer& b, uint32_t& count, unsigned minElement) {
    kora::s_uint32 n;
    if (!n.Deserialize(b)) return false;
    // A count the rest of the buffer cannot hold is refused before anything
    // is allocated or looped over, so a damaged or hostile count costs nothing.
    if (minElement > 0 && n.Value() > b.Remaining() / minElement) return false;
    // Elements read by a layout have no fixed size: each still takes bytes.
    if (minElement == 0 && n.Value() > b.Remaining()) return false;
    count = n;
    return true;
}

StepResult ReadSteps(cRecord& r, kora::cSerializeBuffer& b, unsigned version,
                     const Layout& layout) {
    StepResult result = StepResult::kOk;
    for (const Step& step : layout.steps) {
        if (step.custom) {
            StepResult got = step.custom(r, b);
            if (got == StepResult::kFail) return got;
            if (got == StepResult::kDrop) result = got;
        } else if (!step.row->Read(r, b, version)) {
            return StepResult::kFail;
        }
    }
    return result;
}

// ---- Tables ----

namespace {

[[noreturn]] void BadTable(const char* what, const char* key) {
    std::fprintf(stderr, "tessel: field table: %s \"%s\"\n", what, key ? key : "");
    std::abort();
}

}  // namespace

cRecordTable::cRecordTable(std::vector<RowPtr> rows, std::vector<Layout> layouts, size_t objectSize,
                           size_t baseSize, const std::vector<const char*>& jsonFirst)
    : m_b{std::move(rows), std::move(layouts), JsonShape(), 0, objectSize, baseSize} {
    auto listed = [&](const char* key) {
        for (const char* k : jsonFirst)
            if (std::string(k) == key) return true;
        return false;
    };
    for (const char* key : jsonFirst)
        for (const auto& row : m_b.rows)
            if (row->Has(kRowJsonOut) && std::string(row->key) == key)
                m_b.shape.members.emplace_back(row->key, row->Shape());
    for (const auto& row : m_b.rows) {
        if (row->Has(kRowJsonOut) && *row->key && !listed(row->key))
            m_b.shape.members.emplace_back(row->key, row->Shape());
        if (row->Has(kRowBinary)) m_b.minWire += row->MinWireSize();
    }
    for (auto& layout : m_b.layouts) ResolveLayout(*this, layout);
}

void ResolveLayout(const cRecordTable& table, Layout& layout) {
    for (auto& step : layout.steps) {
        if (step.custom) continue;
        step.row = table.Find(step.key);
        if (!step.row) BadTable("stored layout names no row", step.key);
    }
}

const cRow* cRecordTable::Find(const std::string& key) const {
    const cRow* found = nullptr;
    ForEachRow([&](const cRow& row) {
        if (!found && row.Has(kRowBinary) && key == row.key) found = &row;
    });
    return found;
}

void cRecordTable::Write(const cRecord& r, kora::cSerializeBuffer& b) const {
    for (const auto& row : m_b.rows)
        if (row->Has(kRowBinary)) row->Write(r, b);
}

bool cRecordTable::Read(cRecord& r, kora::cSerializeBuffer& b, unsigned version) const {
    const Layout* layout = nullptr;
    for (const auto& l : m_b.layouts)
        if (l.version == version) layout = &l;
    if (layout) {
        if (ReadSteps(r, b, version, *layout) == StepResult::kFail) return false;
    } else {
        for (const auto& row : m_b.rows)
            if (row->Has(kRowBinary) && row->since <= version && !row->Read(r, b, version))
                return false;
    }
    for (const auto& row : m_b.rows) row->AfterRead(r);
    return true;
}

void cRecordTable::Reset(cRecord& r, bool all) const {
    for (const auto& row : m_b.rows) row->Reset(r, all);
}

void cRecordTable::ToJson(const cRecord& r, Json::Value& data, bool mask) const {
    for (const auto& row : m_b.rows)
        if (row->Has(kRowJsonOut) && *row->key) data[row->key] = row->ToJson(r, mask);
}

namespace {

// Presence and kind of a row's member; composite values are checked below
// too, list elements only when `elements` (they are otherwise checked one at
// a time as they are applied). A row without a key reads members of the
// enclosing object itself, so it checks them there.
void CheckRow(const cRow& row, const Json::Value& data, bool& ok, bool elements) {
    if (row.Has(kRowMayBeMissing)) return;
    if (!*row.key) return row.CheckBelow(data, ok);
    if (!CheckMember(row.key, ok, data, row.kind)) return;
    if (elements || !row.IsList()) row.CheckBelow(MemberOf(data, row.key), ok);
}

}  // namespace

void cRecordTable::Assign(const cRow& row, cRecord& r, const Json::Value& data, JsonIn& in) const {
    if (row.when && !row.when(r)) return;
    row.FromJson(r, *row.key ? MemberOf(data, row.key) : data, in);
}

bool cRecordTable::FromJson(cRecord& r, const Json::Value& data,
                            std::set<std::string>& rejected) const {
    auto required = [](const cRow& row) { return row.Has(kRowJsonIn) && row.group == kRequired; };
    bool ok = true;
    for (const auto& row : m_b.rows)
        if (required(*row)) CheckRow(*row, data, ok, false);
    if (!ok) return false;
    JsonIn in;
    in.rejected = &rejected;
    for (const auto& row : m_b.rows)
        if (required(*row)) Assign(*row, r, data, in);
    // Optional groups, in the order in which their first row appears.
    std::vector<bool> done(m_b.rows.size(), false);
    for (size_t i = 0; i < m_b.rows.size() && in.ok; ++i) {
        const cRow& first = *m_b.rows[i];
        if (!first.Has(kRowJsonIn) || first.group == kRequired || done[i]) continue;
        std::vector<const cRow*> group;
        for (size_t j = i; j < m_b.rows.size(); ++j) {
            bool member =
                j == i || (first.group != kOwnGroup && m_b.rows[j]->group == first.group &&
                           m_b.rows[j]->Has(kRowJsonIn));
            if (!member) continue;
            group.push_back(m_b.rows[j].get());
            done[j] = true;
        }
        bool present = true;
        for (const cRow* row : group) CheckRow(*row, data, present, false);
        if (!present) continue;
        for (const cRow* row : group) Assign(*row, r, data, in);
    }
    return in.ok;
}

bool cRecordTable::CheckElement(const Json::Value& element) const {
    bool ok = true;
    for (const auto& row : m_b.rows)
        if (row->Has(kRowJsonIn)) CheckRow(*row, element, ok, true);
    return ok;
}

bool cRecordTable::AssignElement(cRecord& r, const Json::Value& element) const {
    JsonIn in;
    for (const auto& row : m_b.rows)
        if (row->Has(kRowJsonIn)) Assign(*row, r, element, in);
    return in.ok;
}

bool cRecordTable::Valid(const cRecord& r) const {
    for (const auto& row : m_b.rows)
        if (row->Has(kRowBinary) && !row->Valid(r)) return false;
    return true;
}

void cRecordTable::InfoOf(const cRecord& r, std::initializer_list<const char*> keys,
                          kora::cMap<kora::s_string, kora::s_string>& info) const {
    for (const char* key : keys) {
        const cRow* row = Find(key);
        if (!row) BadTable("display entry names no row", key);
        Json::Value v = row->ToJson(r, false);
        if (v.isBool())
            info.SetAt(key, v.asBool() ? "true" : "false");
        else if (v.isString())
            info.SetAt(key, v.asString());
        else if (v.isUInt64())
            info.SetAt(key,
                       kora::FormatString("%llu", static_cast<unsigned long long>(v.asUInt64())));
        else if (v.isInt64())
            info.SetAt(key, kora::FormatString("%lld", static_cast<long long>(v.asInt64())));
        else
            info.SetAt(key, "");
    }
}

std::string cRecordTable::CoverageProblems(const cRecord& sample, const void* object) const {
    std::vector<std::pair<const void*, size_t>> members;
    for (const auto& row : m_b.rows) row->Members(sample, members);
    // The record's own part begins after its bases; its members are placed
    // in declaration order, each aligned. Padding is narrower than the widest
    // alignment of a kora type (8 bytes, also on 32-bit ARM, where a pointer
    // is 4); a gap that wide can only be a member that no row covers, since
    // every kora type is wider still.
    constexpr size_t kNoPadding = alignof(kora::s_uint64);
    static_assert(sizeof(kora::s_bool) >= kNoPadding, "the smallest member is found");
    auto* begin = static_cast<const char*>(object);
    std::vector<std::pair<size_t, size_t>> spans;
    for (const auto& m : members) {
        size_t offset = static_cast<size_t>(static_cast<const char*>(m.first) - begin);
        spans.emplace_back(offset, offset + m.second);
    }
    std::sort(spans.begin(), spans.end());
    std::string problems;
    size_t at = m_b.baseSize;
    for (const auto& s : spans) {
        if (s.first < at)
            problems += kora::FormatString("bytes %zu..%zu covered twice; ", s.first, at);
        else if (s.first - at >= kNoPadding)
            problems += kora::FormatString("bytes %zu..%zu have no row; ", at, s.first);
        at = std::max(at, s.second);
    }
    if (m_b.objectSize > at && m_b.objectSize - at >= kNoPadding)
        problems += kora::FormatString("bytes %zu..%zu have no row; ", at, m_b.objectSize);
    return problems;
}

// ---- Composites ----

cCompositeRow::cCompositeRow(std::vector<RowPtr> parts) : m_parts(std::move(parts)) {
    since = ~0u;
    for (const auto& p : m_parts) since = std::min(since, p->since);
    if (m_parts.empty()) since = 1;
}

void cCompositeRow::Write(const cRecord& r, kora::cSerializeBuffer& b) const {
    for (const auto& p : m_parts)
        if (p->Has(kRowBinary)) p->Write(r, b);
}

bool cCompositeRow::Read(cRecord& r, kora::cSerializeBuffer& b, unsigned version) const {
    for (const auto& p : m_parts)
        if (p->Has(kRowBinary) && p->since <= version && !p->Read(r, b, version)) return false;
    return true;
}

unsigned cCompositeRow::MinWireSize() const {
    unsigned n = 0;
    for (const auto& p : m_parts)
        if (p->Has(kRowBinary)) n += p->MinWireSize();
    return n;
}

void cCompositeRow::Reset(cRecord& r, bool all) const {
    for (const auto& p : m_parts) p->Reset(r, all);
}

void cCompositeRow::AfterRead(cRecord& r) const {
    for (const auto& p : m_parts) p->AfterRead(r);
}

bool cCompositeRow::Valid(const cRecord& r) const {
    for (const auto& p : m_parts)
        if (!p->Valid(r)) return false;
    return true;
}

void cCompositeRow::Members(const cRecord& r,
                            std::vector<std::pair<const void*, size_t>>& out) const {
    for (const auto& p : m_parts) p->Members(r, out);
}

cObjectRow::cObjectRow(const char* k, std::vector<RowPtr> parts) : cCompositeRow(std::move(parts)) {
    key = k;
    for (const auto& p : m_parts)
        if (p->Has(kRowJsonOut)) m_shape.members.emplace_back(p->key, p->Shape());
}

Json::Value cObjectRow::ToJson(const cRecord& r, bool mask) const {
    Json::Value object(Json::objectValue);
    for (const auto& p : m_parts)
        if (p->Has(kRowJsonOut)) object[p->key] = p->ToJson(r, mask);
    return object;
}

void cObjectRow::CheckBelow(const Json::Value& v, bool& ok) const {
    for (const auto& p : m_parts)
        if (p->Has(kRowJsonIn)) CheckRow(*p, v, ok, true);
}

void cObjectRow::FromJson(cRecord& r, const Json::Value& v, JsonIn& in) const {
    JsonIn parts;
    for (const auto& p : m_parts)
        if (p->Has(kRowJsonIn)) p->FromJson(r, MemberOf(v, p->key), parts);
    if (!parts.ok) in.Refuse(key);
}

cPortRangeRow::cPortRangeRow(const char* k, RowPtr low, RowPtr high)
    : cCompositeRow({std::move(low), std::move(high)}) {
    key = k;
    kind = kJsonString;
    for (const auto& p : m_parts) p->flags &= ~(kRowJsonIn | kRowJsonOut);
}

const cFieldRow<kora::s_uint16>& cPortRangeRow::Low() const {
    return static_cast<const cFieldRow<kora::s_uint16>&>(*m_parts[0]);
}

const cFieldRow<kora::s_uint16>& cPortRangeRow::High() const {
    return static_cast<const cFieldRow<kora::s_uint16>&>(*m_parts[1]);
}

std::string cPortRangeRow::Text(const cRecord& r) const {
    unsigned lo = Low().Of(r), hi = High().Of(r);
    if (lo != hi) return kora::FormatString("%d:%d", lo, hi);
    return lo ? kora::FormatString("%d", lo) : std::string();
}

bool cPortRangeRow::SetText(cRecord& r, const std::string& text) const {
    std::vector<std::string> tokens = kora::cHelper::GetStringTokens(text, ":");
    if (tokens.size() > 2) return false;
    unsigned ports[2] = {0, 0};
    for (size_t i = 0; i < tokens.size(); ++i) {
        for (char c : tokens[i]) {
            if (c < '0' || c > '9') return false;
            ports[i] = ports[i] * 10 + unsigned(c - '0');
            if (ports[i] > 65535) return false;
        }
    }
    if (tokens.size() == 1) ports[1] = ports[0];
    if (ports[1] < ports[0]) std::swap(ports[0], ports[1]);
    Low().Of(r) = static_cast<uint16_t>(ports[0]);
    High().Of(r) = static_cast<uint16_t>(ports[1]);
    return true;
}

Json::Value cPortRangeRow::ToJson(const cRecord& r, bool) const {
    return Json::Value(Text(r));
}

void cPortRangeRow::FromJson(cRecord& r, const Json::Value& v, JsonIn& in) const {
    if (!v.isString() || !SetText(r, v.asString())) in.Refuse(key);
}

}  // namespace tessel
