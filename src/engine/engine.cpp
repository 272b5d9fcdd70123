#include "engine/engine.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/native_serial.h"
#include "engine/serial_device_net.h"
#include "engine/wire_codec.h"
#include "network/evaluators.h"

Engine::Engine() : Engine(nullptr, PortMap::FromEnvironment()) {}

Engine::Engine(std::unique_ptr<SerialOpener> opener, PortMap ports)
    : opener_(opener ? std::move(opener) : MakePortOpener(MakeNativeSerialOpener())),
      ports_(std::move(ports)) {}

Engine::~Engine() {
    Stop();
}

void Engine::SetNotifier(EngineNotifier notifier) {
    notifier_ = std::move(notifier);
}

void Engine::SetConfirmInputs(bool confirm) {
    confirmInputs_ = confirm;
}

SerialLink Engine::MakeLink() {
    return SerialLink(*opener_, stop_, ports_);
}

bool Engine::Start() {
    if (worker_.joinable()) return false;
    {
        std::lock_guard lock(state_.hMutex);
        state_.bStopRequest = false;
    }
    stop_.Reset();
    {
        std::lock_guard lock(doneMutex_);
        done_ = false;
    }
    worker_ = std::thread([this] {
        EngineThreadProc();
        std::lock_guard lock(doneMutex_);
        done_ = true;
        doneChanged_.notify_all();
    });
    return true;
}

void Engine::RequestStop() {
    {
        std::lock_guard lock(state_.hMutex);
        state_.bStopRequest = true;
    }
    stop_.Request();
}

bool Engine::WaitForWorker(std::chrono::milliseconds timeout) {
    if (!worker_.joinable()) return true;
    {
        std::unique_lock lock(doneMutex_);
        if (!doneChanged_.wait_for(lock, timeout, [this] { return done_; })) return false;
    }
    worker_.join();
    return true;
}

void Engine::Stop() {
    RequestStop();
    if (worker_.joinable()) worker_.join();
}

void Engine::SetStatus(const char* format, ...) {
    std::lock_guard lock(state_.hMutex);
    va_list args;
    va_start(args, format);
    std::vsnprintf(state_.szStatus, sizeof state_.szStatus, format, args);
    va_end(args);
}

StatusText Engine::GetStatus() {
    StatusText copy;
    std::lock_guard lock(state_.hMutex);
    std::memcpy(copy.text, state_.szStatus, sizeof copy.text);
    return copy;
}

bool Engine::SetMode(std::int32_t mode) {
    if (mode < MODE_MONITOR || mode > MODE_HOLD) return false;
    std::lock_guard lock(state_.hMutex);
    state_.nMode = mode;
    return true;
}

std::int32_t Engine::Mode() {
    std::lock_guard lock(state_.hMutex);
    return state_.nMode;
}

void Engine::SetComPort(int port) {
    if (port != 0 && port != 1) return;
    std::lock_guard lock(state_.hMutex);
    state_.nComPort = port;
}

std::uint64_t Engine::SetInputs(const NetInputs& inputs) {
    std::lock_guard lock(state_.hMutex);
    state_.wInputs = inputs;
    return ++inputsSet_;
}

ModuleWeights Engine::CopyModuleWeights() {
    std::lock_guard lock(state_.hMutex);
    return state_.sModuleWeights;
}

FileWeights Engine::CopyFileWeights() {
    std::lock_guard lock(state_.hMutex);
    return state_.lFileWeights;
}

void Engine::LoadWeights(const FileWeights& weights) {
    const ModuleWeights module = DeriveModuleWeights(weights);
    std::lock_guard lock(state_.hMutex);
    state_.lFileWeights = weights;
    state_.sModuleWeights = module;
}

bool Engine::Sleep(int ms) const {
    return stop_.SleepFor(std::chrono::milliseconds(ms));
}

bool Engine::StopRequested() {
    std::lock_guard lock(state_.hMutex);
    return state_.bStopRequest.load();
}

int Engine::ComPort() {
    std::lock_guard lock(state_.hMutex);
    return state_.nComPort;
}

void Engine::Notify(const PassReport& report) {
    // Called without hMutex: the notifier may post into a UI that takes the lock.
    if (notifier_) notifier_(report);
}

PassReport Engine::Snapshot(PassReport::Kind kind, std::int32_t mode) {
    PassReport report;
    report.kind = kind;
    report.mode = mode;
    std::lock_guard lock(state_.hMutex);
    std::memcpy(report.status.text, state_.szStatus, sizeof report.status.text);
    report.inputs = state_.wInputs;
    report.outputs = state_.wOutputs;
    report.inputsSet = inputsSet_;
    report.comPort = state_.nComPort;
    return report;
}

void Engine::EngineThreadProc() {
    // Owned by the worker: the port closes when the loop ends, however it ends.
    SerialLink link = MakeLink();
    std::int32_t prev = -1;
    Notify(Snapshot(PassReport::Kind::Started, prev));
    for (;;) {
        std::int32_t mode;
        {
            std::lock_guard lock(state_.hMutex);
            mode = state_.nMode;
        }
        if (mode != prev) {
            SetStatus("%s", kStatusNewMode);
            Notify(Snapshot(PassReport::Kind::ModeChange, mode));
            prev = mode;
        }
        inputsMoved_ = false;
        const LinkError failure = RunStep(mode, link);
        PassReport report = Snapshot(PassReport::Kind::Pass, mode);
        report.ok = !failure.failed();
        report.failure = failure;
        report.inputsMoved = report.ok && inputsMoved_;
        report.inputsAfter = report.inputsMoved ? inputsAfter_ : report.inputs;
        report.valuesRead = report.ok && mode != MODE_HOLD;
        Notify(report);
        // What is left of a late or garbled reply must not become the next one.
        // Waited out once the failure is shown, before the loop's own pause.
        if (failure.stage == LinkStage::Read) link.AwaitQuietLine();
        // A stop that arrives during the pause cuts it short and is honoured at once,
        // not one pass later.
        if (StopRequested() || !Sleep(kEnginePassPauseMs)) return;
    }
}

LinkError Engine::RunStep(std::int32_t mode, SerialLink& link) {
    stepMode_ = mode;
    switch (mode) {
        case MODE_MONITOR:
            return MonitorCycle(link);
        case MODE_SIM_FLOAT:
            FloatSimulationCycle();
            return {};
        case MODE_SIM_INT:
            IntSimulationCycle();
            return {};
        case MODE_EMULATOR:
            return EmulatorCycle(link);
        case MODE_HOLD:
            HoldCycle();
            return {};
        default:
            return {};  // the window only writes 0..4
    }
}

void Engine::HoldCycle() {
    SetStatus("%s", kStatusHold);
}

void Engine::FloatSimulationCycle() {
    EvaluateNetworkFloat();
    SetStatus("%s", kStatusSimFloat);
}

void Engine::IntSimulationCycle() {
    EvaluateNetworkInt();
    SetStatus("%s", kStatusSimInt);
}

void Engine::EvaluateNetworkFloat() {
    std::lock_guard lock(state_.hMutex);
    state_.wOutputs = EvaluateFloat(state_.wInputs, state_.lFileWeights);
}

void Engine::EvaluateNetworkInt() {
    std::lock_guard lock(state_.hMutex);
    state_.wOutputs = EvaluateInt(state_.wInputs, state_.sModuleWeights);
}

void Engine::ReportLinkError(const SerialLink& link, const LinkError& error) {
    const LinkErrorMessage message = LinkErrorText(error, link.PortName());
    SetStatus("%s", message.text);
}

namespace {

// A stop request that cut a pause short: the step ends at once, as the loop is
// about to end and close the port.
constexpr LinkError kStopped{LinkStage::None, 0};

}  // namespace

LinkError Engine::Exchange(SerialLink& link, int comPort, char letter, NetInputs& values) {
    // Open first, so that the queue discarded is the one of the port in use.
    if (const LinkError e = link.OpenTargetPort(comPort); e.failed()) return e;
    // A reply that came too late for its own command must not answer this one. The
    // wait gives way to the operator's choice of another mode or port; the pass is
    // then a failed read, never one that read nothing and passes for good.
    const std::int32_t mode = stepMode_;
    switch (link.AwaitLateReply([&] { return Mode() == mode && ComPort() == comPort; })) {
        case SerialLink::LateReplyWait::Done:
            break;
        case SerialLink::LateReplyWait::Stopped:
            return {LinkStage::Read, EINTR};
        case SerialLink::LateReplyWait::Abandoned:
            return {LinkStage::Read, ETIMEDOUT};
    }
    link.DiscardInput();
    const char command[2] = {letter, '\0'};
    if (const LinkError e = link.WriteTarget(comPort, command); e.failed()) return e;
    char reply[kReplySize];
    LinkError e = link.ReadTarget(reply, sizeof reply);
    if (!e.failed() && !DecodeReply(reply, values)) e = {LinkStage::Read, kBadReplyError};
    return e;
}

bool Engine::ReplyPause(SerialLink& link, LinkError& failure) {
    // Watching costs nothing on a good pass: the pause is as long as ever. A byte
    // that comes now is one the reply did not account for (a stray byte that
    // shifted it, an echo, a module that streams), so the reply is not trusted.
    switch (link.WatchLine(std::chrono::milliseconds(kCommandPauseMs))) {
        case InputWait::Arrived:
            failure = {LinkStage::Read, kReplyOverrunError};
            return false;
        case InputWait::Stopped:
            return false;
        case InputWait::Quiet:
        case InputWait::Failed:
            break;
    }
    return true;
}

LinkError Engine::MonitorCycle(SerialLink& link) {
    SetStatus("%s", kStatusMonitor);
    const int comPort = ComPort();
    const auto failed = [&](const LinkError& e) {
        if (!e.failed()) return kStopped;
        ReportLinkError(link, e);
        return e;
    };
    const char reset[2] = {kCommandReset, '\0'};
    if (const LinkError e = link.WriteTarget(comPort, reset); e.failed()) return failed(e);
    if (!Sleep(kCommandPauseMs)) return kStopped;

    // Each reply is stored once the pause after it has passed quietly.
    LinkError e;
    NetInputs inputs{};
    if (e = Exchange(link, comPort, kCommandInputs, inputs); e.failed()) return failed(e);
    if (!ReplyPause(link, e)) return failed(e);
    {
        std::lock_guard lock(state_.hMutex);
        state_.wInputs = inputs;
    }

    NetOutputs outputs{};
    if (e = Exchange(link, comPort, kCommandOutputs, outputs); e.failed()) return failed(e);
    if (!ReplyPause(link, e)) return failed(e);
    {
        std::lock_guard lock(state_.hMutex);
        state_.wOutputs = outputs;
    }

    if (confirmInputs_) {
        // The outputs belong to the inputs read before them only if these held.
        NetInputs again{};
        if (e = Exchange(link, comPort, kCommandInputs, again); e.failed()) return failed(e);
        if (!ReplyPause(link, e)) return failed(e);
        inputsMoved_ = again != inputs;
        inputsAfter_ = again;
    }
    return {};
}

LinkError Engine::EmulatorCycle(SerialLink& link) {
    SetStatus("%s", kStatusEmulator);
    const int comPort = ComPort();
    const char sync[2] = {kCommandSync, '\0'};
    const LinkError synced = link.WriteTarget(comPort, sync);
    if (synced.failed()) ReportLinkError(link, synced);
    // The pause follows a failed "S" too.
    if (!Sleep(kCommandPauseMs)) return synced;
    if (synced.failed()) return synced;

    NetInputs values{};
    LinkError e = Exchange(link, comPort, kCommandInputs, values);
    if (!e.failed() && !ReplyPause(link, e) && !e.failed()) return kStopped;  // a stop
    if (e.failed()) {
        ReportLinkError(link, e);
        return e;
    }
    {
        std::lock_guard lock(state_.hMutex);
        state_.wInputs = values;
    }

    EvaluateNetworkInt();
    // Only this thread writes wOutputs, so reading it without the lock is consistent.
    const OutputFrame frame = FormatOutputFrame(state_.wOutputs);
    // A failed frame leaves its text in szStatus; the pause follows all the same.
    const LinkError sent = link.WriteTarget(comPort, frame.text);
    if (sent.failed()) ReportLinkError(link, sent);
    (void)Sleep(kFramePauseMs);
    return sent;
}
