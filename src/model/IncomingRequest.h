#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/NotificationAction.h"

namespace qb::model {

// A transfer or pairing request waiting for the user's answer.
struct IncomingRequest {
    std::string id;                  // UUID text, made when the request is queued
    std::string from;                // the sender's name from its header
    std::optional<std::string> key;  // the sender's verified key fingerprint; absent on a plain connection
    std::string name;                // the header's display name
    int count = 1;                   // files announced (folders not counted); 1 without an entry list
    std::int64_t size = 0;
    std::chrono::system_clock::time_point date;
    bool pair = false;
    // Hands the decision (true = accept) to the waiting connection; called once, by AppModel::respond.
    std::function<void(bool)> answer;
    // Its desktop notification, taken back when the request leaves the panel.
    platform::NotificationTicket notification = 0;
};

}  // namespace qb::model
