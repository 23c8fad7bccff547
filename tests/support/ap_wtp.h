// What the AP tests share about the texts they compare.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace testing_support {

// text with every from written as to.
inline std::string replaced(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

// The radio keys of a band left at its defaults, after its wireless_mode.
inline const std::string kDefaultRadio =
    "data_rate=Auto\nbeacon_interval=100\ndtim_interval=0\nhi_power=0\ntransmit_power=100%\nspanning_tree=0\n"
    "ack_timeout=64\nslot_time=9\nshort_gi=0\nigmp_snooping=0\ngreenfield=0\nchannel=0 (Auto)\n"
    "channel_width=Auto 20 / 40 MHz\nchannel_ext=Upper\n";

// A WTP file with its time line written as "time=T", once the time is found
// to be no earlier than since.
inline std::string without_time(const std::string &file, time_t since) {
    const size_t at = file.find("\ntime="), end = file.find('\n', at + 1);
    if (at == std::string::npos || end == std::string::npos) return file;
    EXPECT_GE(std::stol(file.substr(at + 6, end - at - 6)), since);
    return file.substr(0, at) + "\ntime=T" + file.substr(end);
}

}  // namespace testing_support
