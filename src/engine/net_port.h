#pragma once
// Serial ports reached over the network through a port server (ser2net and the
// like): the port names, the telnet framing of RFC 2217 (com-port control), and
// the failure codes of a network port with their causes in words. Pure functions
// and one stream decoder, so that every rule is checked from byte tables; the
// sockets are in net_socket.h, the device in serial_device_net.h.
//
// Thread rules: no shared state; a TelnetDecoder belongs to the device using it.
//
// Port names:
//   tcp://HOST:PORT       raw TCP: the bytes pass through; the server holds the
//                         line settings
//   rfc2217://HOST:PORT   telnet with the com-port control option: the tool sets
//                         the line (9600 8N1, no flow control, DTR and RTS off)
//                         and purges the server's input where a local port would
//                         discard its own
//   anything else         a local device path, opened as it stands
// HOST is a host name, an IPv4 address or an IPv6 address in brackets ([::1]);
// PORT is 1..65535. The scheme may be written in any case.

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class PortKind { Device, RawTcp, Rfc2217 };

struct PortAddress {
    PortKind kind = PortKind::Device;
    std::string host;  // without brackets; network kinds only
    int port = 0;      // network kinds only
};

// Parses a port name. False with `why` set (a short reason, no forms) when the name
// claims a scheme ("...://") but is no form above.
[[nodiscard]] bool ParsePortName(const std::string& name, PortAddress& address, std::string& why);

// The accepted forms, for usage errors.
inline constexpr const char* kPortFormsText =
    "a port is a device path (/dev/ttyUSB0, COM3), tcp://HOST:PORT (raw TCP, e.g. ser2net) or "
    "rfc2217://HOST:PORT (RFC 2217); HOST is a name, an IPv4 address or an IPv6 address in "
    "brackets ([::1]), PORT is 1 to 65535";

// "" for a good name, else "not a port name: \"NAME\" (WHY); " + kPortFormsText.
[[nodiscard]] std::string PortNameProblem(const std::string& name);

// How long a network port may take to open: the connection (all addresses of the
// host together), and in RFC 2217 each of the two negotiation rounds.
inline constexpr int kNetOpenBoundMs = 2000;

// The codes of a network port's failures, shown by the link's texts like a serial
// port's system error codes (the same numbers Winsock gives where it has them):
//   kNetRefused        nothing listens on the port               (Open)
//   kNetHostNotFound   the name is not known                      (Open)
//   kNetNameService    the name service did not answer            (Open)
//   kNetTimedOut       no connection within kNetOpenBoundMs       (Open)
//   kNetClosed         the server closed or reset the connection  (Open, Write, Read)
//   kNetNoComPort      the server refused or ignored RFC 2217     (ReadSettings)
//   kNetBadSetting     the server did not take a line setting     (ApplySettings)
// A read's own time-out and a stop request keep the serial port's codes.
#ifdef _WIN32
inline constexpr int kNetRefused = 10061;       // WSAECONNREFUSED
inline constexpr int kNetHostNotFound = 11001;  // WSAHOST_NOT_FOUND
inline constexpr int kNetNameService = 11002;   // WSATRY_AGAIN
inline constexpr int kNetTimedOut = 10060;      // WSAETIMEDOUT
inline constexpr int kNetClosed = 10054;        // WSAECONNRESET
inline constexpr int kNetNoComPort = 10043;     // WSAEPROTONOSUPPORT
inline constexpr int kNetBadSetting = 87;       // ERROR_INVALID_PARAMETER
#else
inline constexpr int kNetRefused = ECONNREFUSED;
inline constexpr int kNetHostNotFound = ENXIO;  // "No such device or address"
inline constexpr int kNetNameService = EAGAIN;
inline constexpr int kNetTimedOut = ETIMEDOUT;
inline constexpr int kNetClosed = ECONNRESET;
inline constexpr int kNetNoComPort = EPROTONOSUPPORT;
inline constexpr int kNetBadSetting = EINVAL;
#endif

// The cause of a network port's failure in words ("connection refused", "host not
// found", "timed out", "closed by the server", ...), or nullptr for a code that has
// none. Only for ports that ParsePortName calls network ports: the codes overlap
// with a local device's.
[[nodiscard]] const char* NetworkCauseText(int code);

// Telnet (RFC 854) and its com-port control option (RFC 2217).
namespace telnet {

inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;

inline constexpr std::uint8_t kBinary = 0;
inline constexpr std::uint8_t kSuppressGoAhead = 3;
inline constexpr std::uint8_t kComPort = 44;

// Com-port commands, client to server; the server answers each with command + 100.
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;

// Values of the commands above.
inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kStopBitsOne = 1;
inline constexpr std::uint8_t kControlNoFlowOut = 1;
inline constexpr std::uint8_t kControlDtrOff = 9;
inline constexpr std::uint8_t kControlRtsOff = 12;
inline constexpr std::uint8_t kControlNoFlowIn = 14;
inline constexpr std::uint8_t kPurgeServerInput = 1;  // the server's receive buffer

// Data as it goes on the wire: every 0xFF doubled.
[[nodiscard]] std::string EscapeData(std::string_view data);

// IAC SB COM-PORT-OPTION command value... IAC SE, with 0xFF in the value doubled.
[[nodiscard]] std::string ComPortRequest(std::uint8_t command, std::string_view value);

// What the client says first: it will speak com-port control and binary, and asks
// the server for binary and no go-ahead. (It also agrees to suppress go-ahead on its
// own side when asked.)
[[nodiscard]] std::string OpeningRequests();

// The link's line settings: 9600 baud, 8 data bits, no parity, one stop bit, no
// flow control either way, DTR and RTS off.
[[nodiscard]] std::string LineSettingRequests();

// The commands of LineSettingRequests whose answers (command + 100) the opening
// waits for: baud rate, data size, parity, stop size. Flow control and the modem
// lines are sent without waiting: a server whose port has no modem lines (a
// pseudo-terminal) may not answer those at all, and the link needs nothing of them.
[[nodiscard]] const std::vector<std::uint8_t>& AwaitedSettingCommands();

// True when the server's answer `value` to `command` (one of
// AwaitedSettingCommands) shows the link's setting taken.
[[nodiscard]] bool LineSettingTaken(std::uint8_t command, std::string_view value);

// A com-port answer of the server: its command (with the +100) and value.
struct ComPortReply {
    std::uint8_t command = 0;
    std::string value;
    bool operator==(const ComPortReply&) const = default;
};

// What one Feed produced.
struct Decoded {
    std::string data;                   // the serial data, unescaped
    std::string replies;                // answers to the server's negotiation, to send
    std::vector<ComPortReply> comPort;  // the server's com-port answers
};

// Splits the byte stream of a telnet server into data, negotiation and
// subnegotiation, across any cut between two reads. The client's side of the
// negotiation: it offers com-port control and binary (OpeningRequests), accepts
// binary and suppress-go-ahead from the server, refuses everything else, and
// answers a request only when it changes an option's state, so that no exchange
// loops.
class TelnetDecoder {
public:
    // Knows the requests of OpeningRequests as sent.
    TelnetDecoder();
    void Feed(const char* bytes, std::size_t size, Decoded& out);

    // The server agreed to com-port control (DO COM-PORT-OPTION), or refused it.
    [[nodiscard]] bool ComPortAgreed() const { return us_[kComPort]; }
    [[nodiscard]] bool ComPortRefused() const { return refusedUs_[kComPort]; }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    void Negotiate(std::uint8_t verb, std::uint8_t option, std::string& replies);
    void EndSub(Decoded& out);

    // Subnegotiations longer than this are no com-port answer: the rest is dropped.
    static constexpr std::size_t kMaxSub = 64;

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::string sub_;
    bool subOverflow_ = false;
    // Per option: enabled on our side / the server's, and whether we asked first
    // (OpeningRequests asks for these).
    bool us_[256] = {};
    bool him_[256] = {};
    bool usAsked_[256] = {};
    bool himAsked_[256] = {};
    bool refusedUs_[256] = {};
};

}  // namespace telnet
