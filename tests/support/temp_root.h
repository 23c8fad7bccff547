// A bare appliance root made without tools/make-root.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// A fresh temporary directory (with the given appliance directories made in
// it) that APPLIANCE_ROOT names while it lives; at the end it is removed, its
// IPC objects included, and the previous APPLIANCE_ROOT comes back.
class TempRoot {
public:
    explicit TempRoot(const std::vector<std::string> &directories = {});
    ~TempRoot();
    TempRoot(const TempRoot &) = delete;
    TempRoot &operator=(const TempRoot &) = delete;

    const std::string &root() const { return root_; }
    std::string file(const std::string &appliance_path) const { return root_ + appliance_path; }
    std::string read(const std::string &appliance_path) const;  // "" when absent
    bool exists(const std::string &appliance_path) const;
    void write(const std::string &appliance_path, const std::string &content) const;  // directories made
    void remove(const std::string &appliance_path) const;

private:
    std::string root_;
    std::string previous_root_;
    bool had_previous_ = false;
};

}  // namespace testing_support
