#include "support/veth.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace testing_support {

bool VethPair::ip(const std::string &args) {
    return std::system(("ip " + args + " >/dev/null 2>&1").c_str()) == 0;
}

namespace {

bool running(const std::string &interface) {
    std::ifstream state("/sys/class/net/" + interface + "/operstate");
    std::string word;
    return state >> word && word == "up";
}

}  // namespace

VethPair::VethPair(const std::string &name, const std::string &peer)
    : name_(name), peer_(peer), made_(false) {
    ip("link del " + name);  // left by a run that was killed
    made_ = ip("link add " + name + " type veth peer name " + peer);
}

bool VethPair::up() const {
    if (!ip("link set " + name_ + " up") || !ip("link set " + peer_ + " up")) return false;
    for (int tries = 0; tries < 250; ++tries) {
        if (running(name_) && running(peer_)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

VethPair::~VethPair() {
    if (made_) ip("link del " + name_);
}

}  // namespace testing_support
