#include "engine/net_port.h"

#include <cctype>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHex(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsAlnum(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A dotted quad of 0..255 without leading zeros (the resolver would read "010" as
// octal and "1.2.3" as 1.2.0.3).
bool IsIpv4(std::string_view s) {
    int parts = 0;
    std::size_t k = 0;
    for (;;) {
        const std::size_t start = k;
        int value = 0;
        while (k < s.size() && IsDigit(s[k]) && k - start < 3) value = value * 10 + (s[k++] - '0');
        const std::size_t length = k - start;
        if (length == 0 || value > 255 || (length > 1 && s[start] == '0')) return false;
        ++parts;
        if (k == s.size()) return parts == 4;
        if (s[k] != '.' || parts == 4) return false;
        ++k;
    }
}

// Eight groups of up to four hex digits, one "::" standing for at least one zero
// group, an IPv4 address as the last two; an optional zone ("%eth0").
bool IsIpv6(std::string_view s) {
    if (const std::size_t zone = s.find('%'); zone != std::string_view::npos) {
        const std::string_view name = s.substr(zone + 1);
        if (name.empty()) return false;
        for (char c : name) {
            if (!IsAlnum(c) && c != '-' && c != '_' && c != '.') return false;
        }
        s = s.substr(0, zone);
    }
    int groups = 0;
    bool elided = false;
    std::size_t k = 0;
    if (s.substr(0, 2) == "::") {
        elided = true;
        k = 2;
    } else if (!s.empty() && s[0] == ':') {
        return false;
    }
    while (k < s.size()) {
        const std::size_t start = k;
        while (k < s.size() && IsHex(s[k])) ++k;
        if (k < s.size() && s[k] == '.') {  // the embedded IPv4 address ends it
            if (!IsIpv4(s.substr(start))) return false;
            groups += 2;
            k = s.size();
            break;
        }
        if (k == start || k - start > 4) return false;
        ++groups;
        if (k == s.size()) break;
        if (s[k] != ':') return false;
        ++k;
        if (k < s.size() && s[k] == ':') {
            if (elided) return false;
            elided = true;
            ++k;
        } else if (k == s.size()) {
            return false;  // a single trailing colon
        }
    }
    return elided ? groups < 8 : groups == 8;
}

// Labels of letters, digits, '-' and '_' (not at a label's ends), split by dots;
// an all-numeric name must be an IPv4 address.
bool IsHostName(std::string_view s) {
    if (s.empty() || s.size() > 253) return false;
    bool numeric = true;
    std::size_t k = 0;
    while (k <= s.size()) {
        std::size_t end = s.find('.', k);
        if (end == std::string_view::npos) end = s.size();
        const std::string_view label = s.substr(k, end - k);
        if (label.empty() || label.size() > 63) return false;
        if (!IsAlnum(label.front()) || !IsAlnum(label.back())) return false;
        for (char c : label) {
            if (!IsAlnum(c) && c != '-' && c != '_') return false;
            if (!IsDigit(c)) numeric = false;
        }
        k = end + 1;
    }
    return !numeric || IsIpv4(s);
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

bool ParsePortName(const std::string& name, PortAddress& address, std::string& why) {
    const std::size_t mark = name.find("://");
    if (mark == std::string::npos) {
        address = {PortKind::Device, {}, 0};
        return true;
    }
    const std::string scheme = Lower(std::string_view(name).substr(0, mark));
    PortAddress parsed;
    if (scheme == "tcp") {
        parsed.kind = PortKind::RawTcp;
    } else if (scheme == "rfc2217") {
        parsed.kind = PortKind::Rfc2217;
    } else {
        why = "unknown scheme \"" + name.substr(0, mark) + "\"";
        return false;
    }
    const std::string_view rest = std::string_view(name).substr(mark + 3);
    std::string_view host;
    std::string_view port;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            why = "no ']' after the IPv6 address";
            return false;
        }
        host = rest.substr(1, close - 1);
        if (!IsIpv6(host)) {
            why = "not an IPv6 address: \"" + std::string(host) + "\"";
            return false;
        }
        if (close + 1 >= rest.size() || rest[close + 1] != ':') {
            why = "no :PORT after the host";
            return false;
        }
        port = rest.substr(close + 2);
    } else {
        const std::size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) {
            why = "no :PORT after the host";
            return false;
        }
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) {
            why = "an IPv6 address goes in brackets";
            return false;
        }
        if (!IsHostName(host)) {
            why = host.empty() ? "no host" : "not a host name: \"" + std::string(host) + "\"";
            return false;
        }
    }
    int number = 0;
    for (char c : port) {
        if (!IsDigit(c) || number > 65535) {
            number = -1;
            break;
        }
        number = number * 10 + (c - '0');
    }
    if (port.empty() || number < 1 || number > 65535) {
        why = "not a port number (1 to 65535): \"" + std::string(port) + "\"";
        return false;
    }
    parsed.host = std::string(host);
    parsed.port = number;
    address = parsed;
    return true;
}

std::string PortNameProblem(const std::string& name) {
    PortAddress address;
    std::string why;
    if (ParsePortName(name, address, why)) return {};
    return "not a port name: \"" + name + "\" (" + why + "); " + kPortFormsText;
}

const char* NetworkCauseText(int code) {
    switch (code) {
        case kNetRefused:
            return "connection refused";
        case kNetHostNotFound:
            return "host not found";
        case kNetNameService:
            return "host not found (no answer from the name service)";
        case kNetTimedOut:
            return "timed out";
        case kNetClosed:
#ifdef _WIN32
        case 10053:  // WSAECONNABORTED
#else
        case EPIPE:
        case ECONNABORTED:
#endif
            return "closed by the server";
#ifdef _WIN32
        case 10065:  // WSAEHOSTUNREACH
        case 10051:  // WSAENETUNREACH
#else
        case EHOSTUNREACH:
        case ENETUNREACH:
#endif
            return "host unreachable";
        case kNetNoComPort:
            return "the server does not offer RFC 2217";
        case kNetBadSetting:
            return "the server did not take the line settings";
        default:
            return nullptr;
    }
}

namespace telnet {

namespace {

std::string Bytes(std::initializer_list<std::uint8_t> bytes) {
    std::string s;
    for (std::uint8_t b : bytes) s += static_cast<char>(b);
    return s;
}

}  // namespace

std::string EscapeData(std::string_view data) {
    std::string out;
    out.reserve(data.size());
    for (char c : data) {
        out += c;
        if (static_cast<std::uint8_t>(c) == kIac) out += c;
    }
    return out;
}

std::string ComPortRequest(std::uint8_t command, std::string_view value) {
    return Bytes({kIac, kSb, kComPort, command}) + EscapeData(value) + Bytes({kIac, kSe});
}

std::string OpeningRequests() {
    return Bytes({kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kDo,
                  kSuppressGoAhead});
}

const std::vector<std::uint8_t>& AwaitedSettingCommands() {
    static const std::vector<std::uint8_t> commands = {kSetBaudRate, kSetDataSize, kSetParity,
                                                       kSetStopSize};
    return commands;
}

std::string LineSettingRequests() {
    return ComPortRequest(kSetBaudRate, Bytes({0, 0, 0x25, 0x80})) +  // 9600, network order
           ComPortRequest(kSetDataSize, Bytes({8})) +
           ComPortRequest(kSetParity, Bytes({kParityNone})) +
           ComPortRequest(kSetStopSize, Bytes({kStopBitsOne})) +
           ComPortRequest(kSetControl, Bytes({kControlNoFlowOut})) +
           ComPortRequest(kSetControl, Bytes({kControlNoFlowIn})) +
           ComPortRequest(kSetControl, Bytes({kControlDtrOff})) +
           ComPortRequest(kSetControl, Bytes({kControlRtsOff}));
}

bool LineSettingTaken(std::uint8_t command, std::string_view value) {
    switch (command) {
        case kSetBaudRate:
            return value == Bytes({0, 0, 0x25, 0x80});
        case kSetDataSize:
            return value == Bytes({8});
        case kSetParity:
            return value == Bytes({kParityNone});
        case kSetStopSize:
            return value == Bytes({kStopBitsOne});
        default:
            return true;
    }
}

TelnetDecoder::TelnetDecoder() {
    usAsked_[kComPort] = true;
    usAsked_[kBinary] = true;
    himAsked_[kBinary] = true;
    himAsked_[kSuppressGoAhead] = true;
}

void TelnetDecoder::Feed(const char* bytes, std::size_t size, Decoded& out) {
    for (std::size_t k = 0; k < size; ++k) {
        const auto b = static_cast<std::uint8_t>(bytes[k]);
        switch (state_) {
            case State::Data:
                if (b == kIac) {
                    state_ = State::Iac;
                } else {
                    out.data += static_cast<char>(b);
                }
                break;
            case State::Iac:
                if (b == kIac) {
                    out.data += static_cast<char>(b);
                    state_ = State::Data;
                } else if (b >= kWill && b <= kDont) {
                    verb_ = b;
                    state_ = State::Option;
                } else if (b == kSb) {
                    sub_.clear();
                    subOverflow_ = false;
                    state_ = State::Sub;
                } else {
                    state_ = State::Data;  // NOP, GA, a stray SE, ...: nothing to do
                }
                break;
            case State::Option:
                Negotiate(verb_, b, out.replies);
                state_ = State::Data;
                break;
            case State::Sub:
                if (b == kIac) {
                    state_ = State::SubIac;
                } else if (sub_.size() < kMaxSub) {
                    sub_ += static_cast<char>(b);
                } else {
                    subOverflow_ = true;
                }
                break;
            case State::SubIac:
                if (b == kIac) {
                    if (sub_.size() < kMaxSub) {
                        sub_ += static_cast<char>(b);
                    } else {
                        subOverflow_ = true;
                    }
                    state_ = State::Sub;
                } else {
                    // IAC SE ends it; any other command after IAC is a broken
                    // subnegotiation, ended all the same.
                    if (b == kSe) EndSub(out);
                    state_ = State::Data;
                }
                break;
        }
    }
}

void TelnetDecoder::EndSub(Decoded& out) {
    if (subOverflow_ || sub_.size() < 2 || static_cast<std::uint8_t>(sub_[0]) != kComPort) return;
    out.comPort.push_back({static_cast<std::uint8_t>(sub_[1]), sub_.substr(2)});
}

void TelnetDecoder::Negotiate(std::uint8_t verb, std::uint8_t option, std::string& replies) {
    const auto reply = [&](std::uint8_t answer) { replies += Bytes({kIac, answer, option}); };
    const bool oursOk = option == kComPort || option == kBinary || option == kSuppressGoAhead;
    const bool hisOk = option == kBinary || option == kSuppressGoAhead;
    switch (verb) {
        case kDo:
            if (!oursOk) {
                reply(kWont);
            } else if (usAsked_[option]) {
                usAsked_[option] = false;
                us_[option] = true;
            } else if (!us_[option]) {
                us_[option] = true;
                reply(kWill);
            }
            break;
        case kDont:
            if (usAsked_[option]) {
                usAsked_[option] = false;
                refusedUs_[option] = true;
            } else if (us_[option]) {
                us_[option] = false;
                reply(kWont);
            }
            break;
        case kWill:
            if (!hisOk) {
                reply(kDont);
            } else if (himAsked_[option]) {
                himAsked_[option] = false;
                him_[option] = true;
            } else if (!him_[option]) {
                him_[option] = true;
                reply(kDo);
            }
            break;
        case kWont:
            if (himAsked_[option]) {
                himAsked_[option] = false;
            } else if (him_[option]) {
                him_[option] = false;
                reply(kDont);
            }
            break;
        default:
            break;
    }
}

}  // namespace telnet
