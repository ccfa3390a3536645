#pragma once
// The command line's message loop of an ISP run: takes the page's messages from its window sink
// on the calling thread and hands each to `handle` in posting order, until the run is over
// (`runUnderWay` false) and no message has come for 50 ms.
//
// Messages come in floods: a progress step per page and device, thousands a second with eight
// devices. Waking the loop for each costs more processor time than handling it (and takes the
// processor from the workers), so the loop handles them in batches: once woken it handles
// everything queued, calls `tick` (redraw, time limits), and then lets `interval` pass before it
// waits again; what is posted meanwhile waits in the sink, in order. `tick` is also called when
// 50 ms pass without a message. The interval is real time whatever the clock's sleep scale, so
// instant test runs keep their virtual tick.

#include "platform/messages/message_sink.h"

#include <chrono>
#include <functional>

namespace kestrel::cli {

// 50 batches a second: more than a progress display can show.
inline constexpr std::chrono::milliseconds kPumpInterval{20};

void PumpRun(platform::QueueSink& window, const std::function<bool()>& runUnderWay,
             const std::function<void(const platform::WindowMessage&)>& handle,
             const std::function<void()>& tick, std::chrono::milliseconds interval = kPumpInterval);

} // namespace kestrel::cli
