#include "support/veth.h"

#include <cstdlib>

namespace testing_support {

bool VethPair::ip(const std::string &args) {
    return std::system(("ip " + args + " >/dev/null 2>&1").c_str()) == 0;
}

VethPair::VethPair(const std::string &name, const std::string &peer) : name_(name), made_(false) {
    ip("link del " + name);  // left by a run that was killed
    made_ = ip("link add " + name + " type veth peer name " + peer);
}

VethPair::~VethPair() {
    if (made_) ip("link del " + name_);
}

}  // namespace testing_support
