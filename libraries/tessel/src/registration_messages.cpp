// Registration of every protocol payload class with the object factory.
#include "tessel/registration.h"

namespace tessel {

namespace {
std::vector<std::string>& messageClasses() {
    static std::vector<std::string> names;
    return names;
}
}  // namespace

const std::vector<std::string>& RegisteredMessageClasses() {
    return messageClasses();
}

}  // namespace tessel
