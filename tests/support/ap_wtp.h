// What the AP tests share about the WTP configuration files.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <string>

namespace testing_support {

// The radio keys of a band left at its defaults, after its wireless_mode.
inline const std::string kDefaultRadio =
    "data_rate=Auto\nbeacon_interval=100\ndtim_interval=0\nhi_power=0\ntransmit_power=100%\nspanning_tree=0\n"
    "ack_timeout=64\nslot_time=9\nshort_gi=0\nigmp_snooping=0\ngreenfield=0\nchannel=0 (Auto)\n"
    "channel_width=Auto 20 / 40 MHz\nchannel_ext=Upper\n";

// The file with its time line written as "time=T", once the time is found
// to be no earlier than since.
inline std::string without_time(const std::string &file, time_t since) {
    std::smatch time;
    EXPECT_TRUE(std::regex_search(file, time, std::regex("\ntime=([0-9]+)\n")) && std::stol(time[1]) >= since) << file;
    return std::regex_replace(file, std::regex("\ntime=[0-9]+\n"), "\ntime=T\n");
}

}  // namespace testing_support
