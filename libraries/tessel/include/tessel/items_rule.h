// Event rules: a trigger named by a value name ("RULE::EVENT::WAN::CHECK::FAILED",
// "UINT::WIRELESS::CSQ", ...), the comparison data that decides when it holds,
// how often it may fire, and a numbered list of actions with named text
// parameters. The rule manager evaluates rules and runs actions; the item
// checks what it can by itself: the value name, the numeric ranges and each
// action parameter by its key.
#pragma once

#include <set>
#include <string>
#include <utility>

#include "tessel/record.h"

namespace tessel {

// An action: its type and its parameters by name.
using RuleAction = std::pair<kora::s_uint8, kora::s_map_string_string>;
using RuleActionMap = kora::cMap<kora::s_uint32, RuleAction>;
using RuleActionElement = PairEntry<kora::s_uint32, kora::s_uint8, kora::s_map_string_string>;
// {"Index", "ActionType", "Parameters": [{"Name", "Value"}, ...]}; on the wire
// the index, the type and the parameter map in its own form.
TESSEL_API const cRecordTable& RuleActionRows();

// Whether `name` is a value a rule can watch on this device (the link events
// of the switch ports only with the feature "ManagedSwitch").
TESSEL_API bool IsRuleValueName(const std::string& name);
// Whether an action can be stored: every parameter passes the check of its
// key (keys without a check pass).
TESSEL_API bool IsRuleAction(const RuleActionElement& action);

class TESSEL_API cDBConfigRule : public cDBRecord<cDBConfigRule> {
  public:
    static constexpr ItemInfo kInfo = {"cDBConfigRule",
                                       "RuleConfigObject",
                                       ACCESS_CLASS_WAN_CONFIG,
                                       2,
                                       VersionsFrom(1, 2),
                                       "",
                                       "/"};
    cDBConfigRule() { SetDefault(); }
    std::string ToString(const std::string&) const override { return "cDBConfigRule"; }
    // True when an action names a WAN setup ("wansetup").
    bool HasLinks() override;
    // The path of each WAN setup an action names.
    void GetLinks(std::set<std::string>& paths) override;
    // "ValueName"; "Actions": "" for none, the type of a single action, "255"
    // for several; "Parameter": the WAN setup of a single action of type 1.
    bool GetInfo(kora::cMap<kora::s_string, kora::s_string>& info) override;

    bool SetRuleType(kora::s_uint32 v) { return Set(m_RuleType, v); }  // code 1..3
    bool SetValueName(const std::string& v) { return Set(m_ValueName, v); }
    void SetStringValue(const std::string& v) { m_StringValue = v; }
    void SetBoolValue(bool v) { m_BoolValue = v; }
    void SetTimeValue(const kora::cTime& v) { m_TimeValue = v; }
    // Low must not be above high.
    bool SetUIntRange(const std::pair<kora::s_uint32, kora::s_uint32>& v) {
        return v.first <= v.second && Set(m_UintLow, v.first) && Set(m_UintHigh, v.second);
    }
    bool SetIntRange(const std::pair<kora::s_int32, kora::s_int32>& v) {
        return v.first <= v.second && Set(m_IntLow, v.first) && Set(m_IntHigh, v.second);
    }
    bool SetOperator(kora::s_uint32 v) { return Set(m_Operator, v); }  // code 1..6
    void SetTimeout(kora::s_uint32 v) { m_Timeout = v; }
    bool SetExecutionMode(kora::s_uint32 v) { return Set(m_ExecutionMode, v); }  // code 1..3
    bool SetCoolDownTime(kora::s_uint32 v) { return Set(m_CoolDownTime, v); }    // 0..86400 seconds
    // Creates or replaces the action at `index` when its type is 0..13 and
    // every parameter passes its check.
    bool SetActionByIndex(kora::s_uint32 index, const RuleAction& action) {
        return Add(m_Actions, RuleActionElement::From<RuleActionMap>(
                                  RuleActionMap::value_type(index, action)));
    }

    kora::s_uint8 GetRuleType() const { return m_RuleType; }
    const kora::s_string& GetValueName() const { return m_ValueName; }
    const kora::s_string& GetStringValue() const { return m_StringValue; }
    bool GetBoolValue() const { return m_BoolValue; }
    const kora::cTime& GetTimeValue() const { return m_TimeValue; }
    std::pair<kora::s_uint32, kora::s_uint32> GetUIntRange() const {
        return {m_UintLow, m_UintHigh};
    }
    std::pair<kora::s_int32, kora::s_int32> GetIntRange() const { return {m_IntLow, m_IntHigh}; }
    kora::s_uint8 GetOperator() const { return m_Operator; }
    kora::s_uint32 GetTimeout() const { return m_Timeout; }
    kora::s_uint8 GetExecutionMode() const { return m_ExecutionMode; }
    kora::s_uint32 GetCoolDownTime() const { return m_CoolDownTime; }
    // The action at `index`, or type 0 without parameters.
    RuleAction GetActionByIndex(kora::s_uint32 index) const;
    void GetActionIndexList(std::set<unsigned>& indexes) const;

  private:
    kora::s_uint8 m_RuleType;
    kora::s_string m_ValueName, m_StringValue;
    kora::s_bool m_BoolValue;
    kora::cTime m_TimeValue;
    kora::s_uint32 m_UintLow, m_UintHigh;
    kora::s_int32 m_IntLow, m_IntHigh;
    kora::s_uint8 m_Operator;
    kora::s_uint32 m_Timeout;
    kora::s_uint8 m_ExecutionMode;
    kora::s_uint32 m_CoolDownTime;
    RuleActionMap m_Actions;

  public:
    static const Table<cDBConfigRule>& Fields() {
        using C = cDBConfigRule;
        // Ranges are taken from JSON as they are; only the setters order them.
        static const Table<C> rows{{
            Field(&C::m_RuleType, "RuleType", 1).Range(1, 3),
            Field(&C::m_ValueName, "ValueName").Check(IsRuleValueName),
            Field(&C::m_StringValue, "StringValue"),
            Field(&C::m_BoolValue, "BoolValue"),
            Field(&C::m_TimeValue, "TimeValue"),
            Object<C>("UintRange", {Field(&C::m_UintLow, "Low"), Field(&C::m_UintHigh, "High")}),
            Object<C>("IntRange", {Field(&C::m_IntLow, "Low"), Field(&C::m_IntHigh, "High")}),
            Field(&C::m_Operator, "Operator", 1).Range(1, 6),
            Field(&C::m_Timeout, "Timeout"),
            Field(&C::m_ExecutionMode, "ExecutionMode", 3).Since(2).Range(1, 3),
            Field(&C::m_CoolDownTime, "CoolDownTime", 300).Since(2).Range(0, 86400),
            List<RuleActionElement>(&C::m_Actions, "Actions", "Action", RuleActionRows())
                .ElementCheck(IsRuleAction),
        }};
        return rows;
    }
};

}  // namespace tessel
