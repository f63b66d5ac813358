// Named events with any number of subscribers.
#pragma once

#include "interface.h"

#include <mutex>
#include <string>
#include <vector>

namespace bg {

class EventHub {
public:
    int subscribe(const std::string& event, Interface::EventCallback callback);
    void unsubscribe(int handle);
    // Subscribers run in the publishing thread, outside the lock, so that a
    // callback may subscribe or publish in turn.
    int publish(const std::string& event, const Value& argument, const Interface::Reply& reply);
    void clear();

private:
    struct Subscription {
        int handle;
        std::string event;
        Interface::EventCallback callback;
    };
    std::mutex m_mutex; // guards m_subscriptions, m_nextHandle
    std::vector<Subscription> m_subscriptions;
    int m_nextHandle = 1;
};

} // namespace bg
