// The local serial lines (UARTs): line settings and the network port on which
// each one is served. Fields added by later versions were stored before the
// listening port, which has always been last.
#pragma once

#include <string>
#include <vector>

#include "tessel/record.h"

namespace tessel {

// What every serial line has: on/off, speed, data bits, parity, stop bits and
// the listening port. The codes of speed, parity and stop bits belong to the
// program that drives the line; this item only bounds them.
template <class Derived>
class cDBSerialPort : public cDBRecord<Derived> {
  public:
    std::string ToString(const std::string&) const override {
        return std::string(Derived::kInfo.className) + ":";
    }

    void SetEnabled(bool v) { m_Enabled = v; }
    bool SetUARTSpeed(kora::s_uint32 v) { return this->Set(m_Speed, v); }
    bool SetUARTDataBits(kora::s_uint32 v) { return this->Set(m_DataBits, v); }
    bool SetUARTParity(kora::s_uint32 v) { return this->Set(m_Parity, v); }
    bool SetUARTStopBits(kora::s_uint32 v) { return this->Set(m_StopBits, v); }
    bool SetListenPort(kora::s_uint32 v) { return this->Set(m_ListenPort, v); }
    bool GetEnabled() const { return m_Enabled; }
    kora::s_uint8 GetUARTSpeed() const { return m_Speed; }
    kora::s_uint8 GetUARTDataBits() const { return m_DataBits; }
    kora::s_uint8 GetUARTParity() const { return m_Parity; }
    kora::s_uint8 GetUARTStopBits() const { return m_StopBits; }
    kora::s_uint16 GetListenPort() const { return m_ListenPort; }

  protected:
    using C = cDBSerialPort;
    // The line settings, in stored order; the three settings of version 2
    // are read from JSON as one group.
    static std::vector<RowPtr> LineRows() {
        return {
            Field(&C::m_Enabled, "Enabled"),
            Field(&C::m_Speed, "UARTSpeed", 7).Range(1, 11),
            Field(&C::m_DataBits, "UARTDataBits", 8).Since(2).Range(5, 8).Optional(1),
            Field(&C::m_Parity, "UARTParity", 3).Since(2).Range(1, 3).Optional(1),
            Field(&C::m_StopBits, "UARTStopBits", 1).Since(2).Range(1, 2).Optional(1),
        };
    }
    static RowPtr PortRow(uint16_t port) {
        return Field(&C::m_ListenPort, "ListenPort", port).Range(1, 65535);
    }

  private:
    kora::s_bool m_Enabled;
    kora::s_uint8 m_Speed, m_DataBits, m_Parity, m_StopBits;
    kora::s_uint16 m_ListenPort;
};

// A serial line with local echo and flow control (version 3 added the echo,
// version 4 the flow control), listening on `kPort` by default.
template <class Derived, unsigned kFlowMax, uint16_t kPort>
class cDBSerialPortWithFlow : public cDBSerialPort<Derived> {
  public:
    void SetUARTEcho(bool v) { m_Echo = v; }
    bool SetUARTFlowControl(kora::s_uint32 v) { return this->Set(m_FlowControl, v); }
    bool GetUARTEcho() const { return m_Echo; }
    kora::s_uint8 GetUARTFlowControl() const { return m_FlowControl; }

    static const Table<Derived>& Fields() {
        using C = cDBSerialPortWithFlow;
        static const Table<Derived> rows{[] {
            std::vector<RowPtr> r = C::LineRows();
            r.push_back(Field(&C::m_Echo, "UARTEcho").Since(3).Optional());
            r.push_back(Field(&C::m_FlowControl, "UARTFlowControl", 1)
                            .Since(4)
                            .Range(1, kFlowMax)
                            .Optional());
            r.push_back(C::PortRow(kPort));
            return r;
        }()};
        return rows;
    }

  private:
    kora::s_bool m_Echo;
    kora::s_uint8 m_FlowControl;
};

class TESSEL_API cDBConfigRS232 : public cDBSerialPortWithFlow<cDBConfigRS232, 3, 48500> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigRS232",   "RS232ConfigObject", ACCESS_CLASS_UART, 4,
        VersionsFrom(1, 4), "RS232Config",       "/Config/UART/"};
    cDBConfigRS232() { SetDefault(); }
};

// The compact RS232 port: flow control 1..2 only.
class TESSEL_API cDBConfigRS232Compact
    : public cDBSerialPortWithFlow<cDBConfigRS232Compact, 2, 23200> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigRS232Compact", "RS232CompactConfigObject", ACCESS_CLASS_UART, 4,
        VersionsFrom(1, 4),      "RS232CompactConfig",       "/Config/UART/"};
    cDBConfigRS232Compact() { SetDefault(); }
};

// The RS485 line: no echo, no flow control.
class TESSEL_API cDBConfigRS485 : public cDBSerialPort<cDBConfigRS485> {
  public:
    static constexpr ItemInfo kInfo = {
        "cDBConfigRS485",   "RS485ConfigObject", ACCESS_CLASS_UART, 4,
        VersionsFrom(1, 4), "RS485Config",       "/Config/UART/"};
    cDBConfigRS485() { SetDefault(); }

    static const Table<cDBConfigRS485>& Fields() {
        static const Table<cDBConfigRS485> rows{
            [] {
                std::vector<RowPtr> r = LineRows();
                r.push_back(PortRow(48500));
                return r;
            }(),
            {
                // Version 3 stored a byte before the port that this line never had.
                Stored(3, {"Enabled", "UARTSpeed", "UARTDataBits", "UARTParity", "UARTStopBits",
                           Skip<kora::s_uint8>(), "ListenPort"}),
            }};
        return rows;
    }
};

}  // namespace tessel
