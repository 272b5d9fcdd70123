#include "engine/serial_device_net.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "engine/net_port.h"
#include "engine/net_socket.h"
#include "engine/stop_signal.h"

namespace {

using Clock = std::chrono::steady_clock;

// The codes a serial device of this platform gives for the same ends.
#ifdef _WIN32
constexpr int kStoppedError = 995;    // ERROR_OPERATION_ABORTED
constexpr int kIoTimedOut = 1460;     // ERROR_TIMEOUT
constexpr int kNotNetworkName = 123;  // ERROR_INVALID_NAME
#else
constexpr int kStoppedError = EINTR;
constexpr int kIoTimedOut = ETIMEDOUT;
constexpr int kNotNetworkName = EINVAL;
#endif

std::chrono::milliseconds Budget(int perByte, int constant, std::size_t size) {
    return std::chrono::milliseconds(
        static_cast<long long>(perByte) * static_cast<long long>(size) + constant);
}

class NetworkDevice final : public SerialDevice {
public:
    NetworkDevice(std::unique_ptr<TcpSocket> socket, bool telnet, SerialTimeouts timeouts)
        : socket_(std::move(socket)), telnet_(telnet), timeouts_(timeouts) {}

    SerialTransfer Write(const char* data, std::size_t size) override {
        if (goneError_ != 0) return Gone(0);
        const auto deadline =
            Clock::now() + Budget(timeouts_.writeTotalPerByte, timeouts_.writeTotalConstant, size);
        const std::string_view bytes(data, size);
        // Answers and a purge still owed go first, in the same segment.
        outgoing_ += telnet_ ? telnet::EscapeData(bytes) : std::string(bytes);
        return Flush(deadline) ? SerialTransfer{size, 0, false} : transferFailure_;
    }

    SerialTransfer Read(char* buffer, std::size_t size) override {
        const auto total =
            Clock::now() + Budget(timeouts_.readTotalPerByte, timeouts_.readTotalConstant, size);
        // The gap between two bytes counts only once the first byte has come.
        auto deadline = total;
        SerialTransfer t;
        for (;;) {
            const std::size_t take = std::min(size - t.count, received_.size());
            if (take > 0) {
                received_.copy(buffer + t.count, take);
                received_.erase(0, take);
                t.count += take;
                deadline = std::min(
                    total, Clock::now() + std::chrono::milliseconds(timeouts_.readInterval));
            }
            if (t.count == size) return t;
            if (goneError_ != 0) return Gone(t.count);
            const std::size_t before = received_.size();
            const bool alive = Pump();
            if (received_.size() > before) continue;  // taken above, even from a closing server
            if (!alive) return Gone(t.count);
            switch (socket_->WaitUntil(false, deadline)) {
                case TcpSocket::Wait::Ready:
                    break;
                case TcpSocket::Wait::TimedOut:
                    t.error = kIoTimedOut;
                    return t;
                case TcpSocket::Wait::Stopped:
                    t.error = kStoppedError;
                    return t;
                case TcpSocket::Wait::Failed:
                    t.error = socket_->WaitError();
                    return t;
            }
        }
    }

    void DiscardInput() override {
        (void)Pump();  // what the socket holds now goes too
        received_.clear();
        if (telnet_ && !purgeOwed_) {
            // Sent before the next command, so the server drops what the module
            // sent before it, not a reply to it.
            outgoing_ += telnet::ComPortRequest(telnet::kPurgeData,
                                                std::string(1, telnet::kPurgeServerInput));
            purgeOwed_ = true;
        }
    }

    InputWait WaitForInput(std::chrono::milliseconds duration) override {
        const auto deadline = Clock::now() + duration;
        for (;;) {
            if (!received_.empty()) return InputWait::Arrived;
            const bool alive = goneError_ == 0 && Pump();
            if (!received_.empty()) return InputWait::Arrived;
            if (!alive) return InputWait::Failed;
            switch (socket_->WaitUntil(false, deadline)) {
                case TcpSocket::Wait::Ready:
                    break;  // data, or only telnet: the pump tells
                case TcpSocket::Wait::TimedOut:
                    return InputWait::Quiet;
                case TcpSocket::Wait::Stopped:
                    return InputWait::Stopped;
                case TcpSocket::Wait::Failed:
                    return InputWait::Failed;
            }
        }
    }

    // Opening, RFC 2217: offers com-port control, then sets the line once the
    // server agrees. LinkStage::None when the line is set.
    SerialOpenResult Negotiate(Clock::duration bound) {
        SerialOpenResult r;
        negotiating_ = true;
        outgoing_ = telnet::OpeningRequests();
        auto deadline = Clock::now() + bound;
        if (!Flush(deadline)) return Failure(LinkStage::Open);
        if (!AwaitServer(deadline, [this] {
                return decoder_.ComPortAgreed() || decoder_.ComPortRefused();
            })) {
            return Failure(LinkStage::ReadSettings);
        }
        if (!decoder_.ComPortAgreed()) {
            r.stage = LinkStage::ReadSettings;
            r.error = kNetNoComPort;
            return r;
        }
        answered_.clear();
        outgoing_ += telnet::LineSettingRequests();
        deadline = Clock::now() + bound;
        if (!Flush(deadline)) return Failure(LinkStage::ApplySettings);
        // The server's own notices (modem and line state) may come between the
        // answers: each setting is looked up by its answer's command.
        const auto answer = [this](std::uint8_t command) -> const telnet::ComPortReply* {
            for (auto k = answered_.rbegin(); k != answered_.rend(); ++k) {
                if (k->command == command + telnet::kServerOffset) return &*k;
            }
            return nullptr;
        };
        const std::vector<std::uint8_t>& awaited = telnet::AwaitedSettingCommands();
        if (!AwaitServer(deadline, [&] {
                for (std::uint8_t command : awaited) {
                    if (answer(command) == nullptr) return false;
                }
                return true;
            })) {
            return Failure(LinkStage::ApplySettings);
        }
        for (std::uint8_t command : awaited) {
            if (!telnet::LineSettingTaken(command, answer(command)->value)) {
                r.stage = LinkStage::ApplySettings;
                r.error = kNetBadSetting;
                return r;
            }
        }
        negotiating_ = false;
        answered_.clear();
        received_.clear();  // bytes from before the line was set are no reply
        r.stage = LinkStage::None;
        return r;
    }

private:
    // Sends everything owed, waiting for room up to `deadline`. False with
    // transferFailure_ set otherwise.
    bool Flush(Clock::time_point deadline) {
        while (!outgoing_.empty()) {
            if (goneError_ != 0) {
                transferFailure_ = Gone(0);
                return false;
            }
            const TcpSocket::Io io = socket_->Send(outgoing_.data(), outgoing_.size());
            if (io.error != 0) {
                goneError_ = io.error;
                transferFailure_ = Gone(0);
                return false;
            }
            outgoing_.erase(0, io.count);
            if (io.count > 0) continue;
            TcpSocket::Wait w = socket_->WaitUntil(true, deadline);
            if (w == TcpSocket::Wait::Ready) continue;
            transferFailure_ = {0,
                                w == TcpSocket::Wait::TimedOut  ? kIoTimedOut
                                : w == TcpSocket::Wait::Stopped ? kStoppedError
                                                                : socket_->WaitError(),
                                false};
            openError_ = transferFailure_.error;
            return false;
        }
        purgeOwed_ = false;
        return true;
    }

    // Takes in everything the socket holds now, without waiting: data into
    // received_, the server's negotiation answered at once. False once the
    // connection is gone (goneError_ then says why).
    bool Pump() {
        char chunk[512];
        for (;;) {
            const TcpSocket::Io io = socket_->Receive(chunk, sizeof chunk);
            if (io.closed || io.error != 0) {
                goneError_ = io.error != 0 ? io.error : kNetClosed;
                return false;
            }
            if (io.count == 0) break;
            if (!telnet_) {
                received_.append(chunk, io.count);
                continue;
            }
            telnet::Decoded decoded;
            decoder_.Feed(chunk, io.count, decoded);
            received_ += decoded.data;
            // Only the opening needs the answers; later ones (the purges') are dropped.
            if (negotiating_) {
                answered_.insert(answered_.end(), decoded.comPort.begin(), decoded.comPort.end());
            }
            if (!decoded.replies.empty()) {
                // Answered now, without waiting for room: what does not go at once
                // goes with the next command.
                outgoing_ += decoded.replies;
                const TcpSocket::Io sent = socket_->Send(outgoing_.data(), outgoing_.size());
                if (sent.error != 0) {
                    goneError_ = sent.error;
                    return false;
                }
                outgoing_.erase(0, sent.count);
                if (outgoing_.empty()) purgeOwed_ = false;
            }
        }
        return true;
    }

    // Reads until `done` or the deadline; false then, with the reason kept.
    template <typename Done>
    bool AwaitServer(Clock::time_point deadline, Done done) {
        for (;;) {
            if (!Pump()) return false;
            if (done()) return true;
            const TcpSocket::Wait w = socket_->WaitUntil(false, deadline);
            if (w == TcpSocket::Wait::Ready) continue;
            openError_ = w == TcpSocket::Wait::TimedOut  ? kNetTimedOut
                         : w == TcpSocket::Wait::Stopped ? kStoppedError
                                                         : socket_->WaitError();
            return false;
        }
    }

    // An open that failed at `stage`: a closed connection counts as a failed open.
    SerialOpenResult Failure(LinkStage stage) const {
        SerialOpenResult r;
        r.stage = goneError_ != 0 ? LinkStage::Open : stage;
        r.error = goneError_ != 0 ? goneError_ : openError_;
        return r;
    }

    SerialTransfer Gone(std::size_t count) const {
        return {count, goneError_ != 0 ? goneError_ : kNetClosed, true};
    }

    std::unique_ptr<TcpSocket> socket_;
    const bool telnet_;
    SerialTimeouts timeouts_;
    telnet::TelnetDecoder decoder_;
    std::string received_;  // data received and not read yet
    std::string outgoing_;  // bytes owed to the server, in order
    bool purgeOwed_ = false;
    bool negotiating_ = false;                    // the opening runs
    std::vector<telnet::ComPortReply> answered_;  // the server's com-port answers meanwhile
    int goneError_ = 0;                           // set once the connection is closed or broken
    SerialTransfer transferFailure_;              // why the last Flush failed
    int openError_ = 0;                           // why the last negotiation step failed
};

SerialOpenResult Fail(LinkStage stage, int error) {
    SerialOpenResult r;
    r.stage = stage;
    r.error = error;
    return r;
}

class PortOpener final : public SerialOpener {
public:
    explicit PortOpener(std::unique_ptr<SerialOpener> local) : local_(std::move(local)) {}
    SerialOpenResult Open(const std::string& path, const StopSignal& stop) override {
        PortAddress address;
        std::string why;
        if (ParsePortName(path, address, why) && address.kind == PortKind::Device) {
            return local_->Open(path, stop);
        }
        return network_.Open(path, stop);
    }

private:
    std::unique_ptr<SerialOpener> local_;
    NetworkOpener network_;
};

}  // namespace

SerialOpenResult NetworkOpener::Open(const std::string& path, const StopSignal& stop) {
    PortAddress address;
    std::string why;
    if (!ParsePortName(path, address, why) || address.kind == PortKind::Device) {
        return Fail(LinkStage::Open, kNotNetworkName);
    }
    const auto bound = std::chrono::milliseconds(kNetOpenBoundMs);
    TcpSocket::Connected connected = TcpSocket::Connect(address.host, address.port, bound, stop);
    if (!connected.socket) return Fail(LinkStage::Open, connected.error);
    auto device = std::make_unique<NetworkDevice>(std::move(connected.socket),
                                                  address.kind == PortKind::Rfc2217, timeouts_);
    SerialOpenResult r;
    if (address.kind == PortKind::Rfc2217) {
        r = device->Negotiate(bound);
        if (r.stage != LinkStage::None) return r;
    }
    r.device = std::move(device);
    r.stage = LinkStage::None;
    return r;
}

std::unique_ptr<SerialOpener> MakePortOpener(std::unique_ptr<SerialOpener> local) {
    return std::make_unique<PortOpener>(std::move(local));
}
