#include "event-hub.h"

#include <algorithm>

namespace bg {

int EventHub::subscribe(const std::string& event, Interface::EventCallback callback) {
    if (!callback)
        return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    int handle = m_nextHandle++;
    m_subscriptions.push_back({handle, event, std::move(callback)});
    return handle;
}

void EventHub::unsubscribe(int handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_subscriptions.erase(std::remove_if(m_subscriptions.begin(), m_subscriptions.end(),
                                         [handle](const Subscription& s) { return s.handle == handle; }),
                          m_subscriptions.end());
}

int EventHub::publish(const std::string& event, const Value& argument, const Interface::Reply& reply) {
    std::vector<Interface::EventCallback> targets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& s : m_subscriptions) {
            if (s.event == event)
                targets.push_back(s.callback);
        }
    }
    Interface::Reply answer = reply ? reply : [](const Value&) {};
    for (const auto& callback : targets)
        callback(event, argument, answer);
    return static_cast<int>(targets.size());
}

void EventHub::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_subscriptions.clear();
}

} // namespace bg
