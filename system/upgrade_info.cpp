// The upgrade timing record: how long the last flash write took, kept as
// one line "start end" in file 183, so the next upgrade's progress bar
// fills in that time.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "system/module.h"

namespace {

constexpr int kTimingFile = 183;  // /etc/sysconfig/.firewall/upgrade_info.conf
constexpr uint32_t kFirstDuration = 360;
constexpr const char *kSource = "upgrade_info";
constexpr int kPageWidth = 700;

upgrade_info_record &as_record(void *rec) { return *static_cast<upgrade_info_record *>(rec); }
uint32_t now() { return static_cast<uint32_t>(std::time(nullptr)); }

// "%lu %lu": start, a blank, end.
std::string timing_line(const upgrade_info_record &r) { return std::to_string(r.start) + " " + std::to_string(r.end); }

int add_result = -1;  // the last add's result, returned again when a line cannot be built

int add_timing(record_file *h, void *rec) {
    try {
        add_result = my_AddLine(h, timing_line(as_record(rec)).c_str());
    } catch (...) {
        // Out of memory: the previous result stands.
    }
    return add_result;
}

void *timing_defaults(void *rec, const char *) {
    as_record(rec) = {now(), now() + kFirstDuration};
    return rec;
}

// An empty file gets the default line at once: a first upgrade is shown
// with a bar of 360 seconds.
record_file *open_timing(void *, const char *tag, int mode) {
    record_file *h = module::open_file(kTimingFile, tag, mode);
    if (h && h->count == 0) {
        upgrade_info_record first{now() - kFirstDuration, now()};
        add_timing(h, &first);
        my_WriteFile(h);
    }
    return h;
}

// A hand-edited line with one number keeps the other field as it was.
void *parse_timing(char *line, void *rec) {
    char *tokens[2] = {};
    int n = string_parse(tokens, 2, line);
    if (n >= 1) as_record(rec).start = static_cast<uint32_t>(std::strtoul(tokens[0], nullptr, 10));
    if (n >= 2) as_record(rec).end = static_cast<uint32_t>(std::strtoul(tokens[1], nullptr, 10));
    return rec;
}

// The bar itself, after prev (freed); attribute sets its maximum.
char *progress_bar(char *prev, const char *attribute) {
    return my_string(prev,
                     "<table border=0 width=%d cellpadding=%s cellspacing=%s>\\n<tr class=\"TextAttr\" align=\"center\">"
                     "<td width=\"35%%\"></td><td align=\"left\"><progress id=\"wp\"%s><span id=\"iewp\" class=\"ie\" "
                     "style=\"width:0%%;\"></span></progress></td><td width=\"35%%\"></td></tr>\\n</table>\\n",
                     kPageWidth, html_fmt[4], html_fmt[5], attribute);
}

const module_table kTable = {
    .name = "upgrade_info",
    .clear = module::clear<upgrade_info_record>,
    .add = add_timing,
    .remove = module::remove,
    .modify = module::modify<upgrade_info_record, timing_line>,
    .set_default = timing_defaults,
    .open = open_timing,
    .getline = module::getline<parse_timing>,
    .getnum = module::getnum<parse_timing>,
    .parse = parse_timing,
    .close = module::close_file,
};

}  // namespace

extern "C" {

module_table *upgrade_info_register(void) { return module::register_table(kTable); }
void upgrade_info_unregister(module_table *table) { module::unregister_table(table); }

int get_last_upgrade_interval(void) {
    upgrade_info_record record{};
    record_file *h = open_timing(nullptr, MODULE_TAG(kSource), 1);
    if (!h) return 0;
    module::read_number(h, &record, 1, parse_timing);
    int interval = static_cast<int>(record.end - record.start);
    module::close_file(&h);
    return interval;
}

void update_upgrade_interval(upgrade_info_record *record) {
    record_file *h = open_timing(nullptr, MODULE_TAG(kSource), 1);
    if (!h) return;
    module::modify<upgrade_info_record, timing_line>(h, record, 1);
    module::close_file(&h);
}

char *ui_para_upgrading(upgrade_info_record *record) {
    int interval = get_last_upgrade_interval();
    record->start = now();
    if (interval < 1) return progress_bar(nullptr, "");  // no maximum: an indeterminate bar

    // One step a second: the bar stops full, however long the write takes.
    char *text = my_string(nullptr, "%s",
                           "<script>\\nvar progress_id;\\nvar progress_time = 0;\\nvar current_time = 0;\\n"
                           "function set_progress() {\\n"
                           "  var bar = document.getElementById(\"wp\");\\n"
                           "  var ie = document.getElementById(\"iewp\");\\n"
                           "  if (bar && bar.max) {\\n"
                           "    if (bar.value < bar.max) {\\n"
                           "      bar.value = bar.value + 1;\\n"
                           "      ie.style.width = ((bar.value + 1) * 100 / bar.max) + \"%\";\\n"
                           "    } else {\\n      clearInterval(progress_id);\\n    }\\n"
                           "  } else if (progress_time > 0) {\\n"
                           "    current_time = current_time + 1;\\n"
                           "    if (current_time < progress_time) {\\n"
                           "      ie.style.width = (current_time * 100 / progress_time) + \"%\";\\n"
                           "    } else {\\n      clearInterval(progress_id);\\n    }\\n"
                           "  } else {\\n    clearInterval(progress_id);\\n  }\\n"
                           "}\\n<\\/script>\\n");
    char attribute[48];
    std::snprintf(attribute, sizeof attribute, " max=\"%d\" value=\"0\"", interval);
    if (text) text = progress_bar(text, attribute);
    if (text)
        text = my_string(text,
                         "<script>\\nif (document.getElementById(\"wp\")) {\\n  progress_time = %d;\\n"
                         "  progress_id = setInterval(\"set_progress()\", 1000);\\n}\\n<\\/script>\\n",
                         interval);
    return text;
}

char *ui_para_write_done(upgrade_info_record *record) {
    record->end = now();
    update_upgrade_interval(record);
    return my_string(nullptr, "%s",
                     "<script>\\nif(document.getElementById(\"wp\")!=null){\\n"
                     "document.getElementById(\"wp\").style.display=\"none\";\\n}\\n<\\/script>\\n");
}

}
