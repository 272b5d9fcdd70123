#include "engine/net_socket.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/stop_signal.h"

bool AwaitLookup(std::function<ResolvedAddresses()> lookup, TcpSocket::Clock::time_point deadline,
                 const StopSignal& stop, ResolvedAddresses& result) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;        // guarded by mutex
        ResolvedAddresses addresses;  // guarded by mutex
    };
    auto shared = std::make_shared<Shared>();
    // Detached: a resolver that hangs must not hold the worker; the thread keeps
    // what it needs alive by itself.
    std::thread([shared, lookup = std::move(lookup)] {
        ResolvedAddresses found = lookup();
        std::lock_guard lock(shared->mutex);
        shared->addresses = std::move(found);
        shared->finished = true;
        shared->done.notify_all();
    }).detach();

    // The stop signal cannot wake a condition variable: it is looked at every few
    // milliseconds, which only a slow name service ever notices.
    constexpr auto kStopPoll = std::chrono::milliseconds(10);
    std::unique_lock lock(shared->mutex);
    for (;;) {
        if (shared->finished) {
            result = std::move(shared->addresses);
            return true;
        }
        const auto now = TcpSocket::Clock::now();
        if (now >= deadline || stop.IsRequested()) return false;
        shared->done.wait_for(lock,
                              std::min<TcpSocket::Clock::duration>(kStopPoll, deadline - now));
    }
}
