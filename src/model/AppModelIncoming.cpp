#include <algorithm>

#include "model/AppModel.h"

namespace qb::model {

void AppModel::startServer() {}

void AppModel::stopServer() {
    registeredName_.clear();
    port_ = 0;
}

bool AppModel::hasServer() const {
    return false;
}

void AppModel::respond(const IncomingRequest& request, bool accept, bool remember) {
    std::erase_if(requests_, [&](const IncomingRequest& waiting) { return waiting.id == request.id; });
    if (accept && request.key) {
        recordAcceptedSender(request);
        if (remember) {
            const std::string& key = *request.key;
            if (std::find(settings_.trusted.begin(), settings_.trusted.end(), key) == settings_.trusted.end()) {
                settings_.trusted.push_back(key);
                storeTrusted();
            }
            settings_.trustedNames[key] = request.from;
            storeTrustedNames();
        }
    }
    Q_EMIT changed();
    if (request.answer) {
        request.answer(accept);
    }
}

}  // namespace qb::model
