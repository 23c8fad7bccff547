// The managed access points: their list in the SQLite database AP_INFO
// (one row of ap_list per AP, with its state, map position and the radio
// configuration of both bands), what the client database AP_CLIENT holds
// about each, the app logins of AP_USER, and the file of the 64 AP groups,
// ap_group.conf, which is this module's configuration record file.
#include <strings.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "system/ap_common.h"

namespace {

constexpr const char *kSource = "system/ap_host.c";
constexpr int kGroupFile = 176;  // /etc/sysconfig/.firewall/ap_group.conf
constexpr int kGroups = 64;
constexpr const char *kInfoDir = "/etc/sysconfig/.firewall/", *kClientDir = "/var/db/";
constexpr const char *kEmapDir = "/etc/sysconfig/.firewall/emap";
constexpr const char *kGroupTexts[] = {"setting", "ap_host"};
using texts = module::texts<kGroupTexts>;

// ---- The databases ------------------------------------------------------

// One connection to a database file of the controller, closed at the end
// of the operation; changes to the ones under the configuration directory
// are copied to flash with the close.  A missing file is not created.
class database {
public:
    database(const char *dir, const char *name, const char *opener) : path_(std::string(dir) + name), tag_(opener) {
        if (access(platform::path(path_).c_str(), F_OK) != 0) return;
        result_ = _my_sqlite_connect(tag(), &db_, path_.c_str());
        if (result_ != 0) db_ = nullptr;
    }
    ~database() {
        if (!db_) return;
        if (changed_ && path_.starts_with(kInfoDir))
            _my_sqlite_sync_close(tag(), db_, path_.c_str());
        else
            _my_sqlite_close(tag(), db_);
    }
    database(const database &) = delete;
    database &operator=(const database &) = delete;

    explicit operator bool() const { return db_ != nullptr; }
    int failure() const { return result_ ? result_ : -1; }
    sqlite3 *get() { return db_; }
    const char *tag() const { return tag_.c_str(); }
    // A statement's result; one that changed rows is copied to flash.
    int ran(int result) {
        if (result == 0 && _my_sqlite_changes(tag(), db_) > 0) changed_ = true;
        return result;
    }

private:
    std::string path_;
    std::string tag_;  // the opener's M() text, kept past the buffer's next turn
    sqlite3 *db_ = nullptr;
    int result_ = -1;
    bool changed_ = false;
};

#define DB_EXEC(db, ...) db.ran(_my_sqlite_exec(db.tag(), db.get(), nullptr, __VA_ARGS__))

// A text as the contents of an SQL string literal: a quote is doubled, the
// only escape the database knows (a backslash is an ordinary character
// there, so backslash escapes would end the literal early).
std::string lit(const char *text) {
    std::string out;
    for (const char *p = text ? text : ""; *p; ++p) {
        if (*p == '\'') out += '\'';
        out += *p;
    }
    return out;
}

// A stored text, with "^o^" as the empty value.
std::string lit_or_empty(const char *text) { return module::is_set(text) ? lit(text) : std::string(); }

// Rows of a statement as texts, all of them read before anything is
// changed (a row null stays "").
std::vector<std::vector<std::string>> rows_of(database &db, sqlite3_stmt *stmt, int columns) {
    std::vector<std::vector<std::string>> rows;
    while (char **row = _my_sqlite_fetch_row(db.tag(), stmt)) {
        std::vector<std::string> values;
        for (int i = 0; i < columns; ++i) values.emplace_back(row[i] ? row[i] : "");
        _my_sqlite_free_row(db.tag(), row);
        rows.push_back(std::move(values));
    }
    _my_sqlite_finalize(db.tag(), stmt);
    return rows;
}

// ---- The AP record and its columns --------------------------------------

void copy_text(char *field, std::size_t size, const char *value) {
    std::size_t i = 0;
    for (; i + 1 < size && value[i]; ++i) field[i] = value[i];
    field[i] = '\0';
}

void parse_list(const char *text, int32_t (&slots)[AP_PROFILE_SLOTS]) {
    for (int32_t &s : slots) s = 0;
    for (int k = 0; k < AP_PROFILE_SLOTS && text && *text; ++k) {
        slots[k] = module::clamped(std::strtoll(text, nullptr, 10));
        text = std::strchr(text, ',');
        if (text) ++text;
    }
}

// Comma-joined: every slot, or only the nonzero ones (empty when none).
std::string join_list(const int32_t (&slots)[AP_PROFILE_SLOTS], bool nonzero_only) {
    std::string out;
    for (int32_t s : slots)
        if (s || !nonzero_only) out += (out.empty() ? "" : ",") + std::to_string(s);
    return out;
}

enum class kind { integer, seconds, text, list };
struct column {
    const char *select;  // the expression read
    kind type;
    std::size_t offset, size;
};

#define AP_COLUMN(select, type, member) \
    column { select, kind::type, offsetof(ap_host_record, member), sizeof(ap_host_record::member) }
#define AP_BANDS(name, type, member) \
    AP_COLUMN("`" name "`", type, radio[0].member), AP_COLUMN("`5G_" name "`", type, radio[1].member)

// Every column of ap_list in the order the list reads them.
const column kColumns[] = {
    AP_COLUMN("`SN`", integer, SN),
    AP_COLUMN("strftime('%s', `STime`)", seconds, STime),
    AP_COLUMN("strftime('%s', `ETime`)", seconds, ETime),
    AP_COLUMN("`Name`", text, Name),
    AP_COLUMN("UPPER(`MAC`)", text, MAC),
    AP_COLUMN("`IP`", text, IP),
    AP_COLUMN("`PORT`", integer, PORT),
    AP_COLUMN("`Username`", text, Username),
    AP_COLUMN("`Passwd`", text, Passwd),
    AP_COLUMN("`Status`", integer, Status),
    AP_COLUMN("`poe`", integer, poe),
    AP_BANDS("ssid_max", integer, ssid_max),
    AP_COLUMN("`pf_id`", list, radio[0].pf_id),
    AP_COLUMN("`5G_pf_id`", list, radio[1].pf_id),
    AP_BANDS("wireless_mode_list", text, wireless_mode_list),
    AP_BANDS("wireless_mode", integer, wireless_mode),
    AP_BANDS("data_rate", text, data_rate),
    AP_BANDS("beacon_interval", integer, beacon_interval),
    AP_BANDS("dtim_interval", integer, dtim_interval),
    AP_BANDS("high_power", integer, high_power),
    AP_COLUMN("`high_txpower_list`", text, radio[0].high_txpower_list[0]),
    AP_COLUMN("`5G_high_txpower_list_1`", text, radio[1].high_txpower_list[0]),
    AP_COLUMN("`5G_high_txpower_list_2`", text, radio[1].high_txpower_list[1]),
    AP_COLUMN("`5G_high_txpower_list_3`", text, radio[1].high_txpower_list[2]),
    AP_COLUMN("`5G_high_txpower_list_4`", text, radio[1].high_txpower_list[3]),
    AP_COLUMN("`txpower_list`", text, radio[0].txpower_list[0]),
    AP_COLUMN("`5G_txpower_list_1`", text, radio[1].txpower_list[0]),
    AP_COLUMN("`5G_txpower_list_2`", text, radio[1].txpower_list[1]),
    AP_COLUMN("`5G_txpower_list_3`", text, radio[1].txpower_list[2]),
    AP_COLUMN("`5G_txpower_list_4`", text, radio[1].txpower_list[3]),
    AP_BANDS("transmit_power", text, transmit_power),
    AP_BANDS("spanning_tree", integer, spanning_tree),
    AP_BANDS("ack_timeout", integer, ack_timeout),
    AP_BANDS("slot_time", integer, slot_time),
    AP_BANDS("short_gi", integer, short_gi),
    AP_BANDS("igmp_snooping", integer, igmp_snooping),
    AP_BANDS("greenfield", integer, greenfield),
    AP_COLUMN("`channel_list`", text, radio[0].channel_list[0].list),
#define AP_5G_CHANNELS(n)                                                                          \
    AP_COLUMN("`5G_channel_list_" #n "_toTxpower`", text, radio[1].channel_list[n - 1].toTxpower), \
        AP_COLUMN("`5G_channel_list_" #n "_band`", text, radio[1].channel_list[n - 1].band),       \
        AP_COLUMN("`5G_channel_list_" #n "`", text, radio[1].channel_list[n - 1].list)
    AP_5G_CHANNELS(1),
    AP_5G_CHANNELS(2),
    AP_5G_CHANNELS(3),
    AP_5G_CHANNELS(4),
    AP_BANDS("channel", text, channel),
    AP_BANDS("channel_width", text, channel_width),
    AP_BANDS("channel_ext_list", text, channel_ext_list),
    AP_BANDS("channel_ext", text, channel_ext),
    AP_COLUMN("`map_id`", text, map_id),
    AP_COLUMN("`map_axis_x`", text, map_axis_x),
    AP_COLUMN("`map_axis_y`", text, map_axis_y),
    AP_COLUMN("`gps_lat`", text, gps_lat),
    AP_COLUMN("`gps_lng`", text, gps_lng),
    AP_COLUMN("`gps_addr`", text, gps_addr),
    AP_COLUMN("`gps_id`", text, gps_id),
    AP_COLUMN("`action`", integer, action),
    AP_COLUMN("`Group`", integer, Group),
    AP_COLUMN("`wired_id`", list, wired_id),
    AP_COLUMN("`wired_max`", integer, wired_max),
    AP_COLUMN("`fw_version`", text, fw_version),
    AP_COLUMN("`autorestart`", text, autorestart),
};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));
static_assert(kColumnCount <= 100, "a fetched row holds at most 100 columns");

// A row over the defaults: a NULL keeps the default.
void fill(ap_host_record &ap, char **row) {
    auto *base = reinterpret_cast<unsigned char *>(&ap);
    for (int i = 0; i < kColumnCount; ++i) {
        const char *value = row[i];
        if (!value) continue;
        const column &c = kColumns[i];
        void *field = base + c.offset;
        switch (c.type) {
            case kind::integer:
                *static_cast<int32_t *>(field) = module::clamped(std::strtoll(value, nullptr, 10));
                break;
            case kind::seconds:
                *static_cast<uint32_t *>(field) = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
                break;
            case kind::text:
                copy_text(static_cast<char *>(field), c.size, value);
                break;
            case kind::list:
                parse_list(value, *static_cast<int32_t(*)[AP_PROFILE_SLOTS]>(field));
                break;
        }
    }
}

std::string select_list() {
    std::string sql = "SELECT ";
    for (int i = 0; i < kColumnCount; ++i) sql += (i ? ", " : "") + std::string(kColumns[i].select);
    return sql + " FROM `ap_list` ";
}

// The ORDER BY part the page's sort column "si" and direction "sd" ask for.
std::string order_by() {
    const int si = module::form_integer("si", 0);
    if (si == 0) return "ORDER BY `Status` ASC, `SN` ASC";
    const char *direction = module::form_integer("sd", 0) ? "DESC" : "ASC";
    std::string column;
    switch (si) {
        case 1:
            column = "`Status`";
            break;
        case 2:
            column = "`Name`";
            break;
        case 3:
            column = "INET_ATON(`IP`)";
            break;
        case 4:
            column = "`MAC`";
            break;
        case 5:
            column = std::string("`Status` ") + direction + " , `STime`";
            break;
        default:
            column = "SN";
    }
    return "ORDER BY " + column + " " + direction;
}

// ---- The ap_host table --------------------------------------------------

void *set_default(void *rec, const char *) {
    if (rec) ap::host_defaults(*static_cast<ap_host_record *>(rec));
    return rec;
}

// An empty group file gets its 64 groups, written line by line.
record_file *open(void *, const char *tag, int mode) {
    record_file *h = module::open_file(kGroupFile, tag, mode);
    if (h && h->count == 0)
        for (int n = 0; n < kGroups; ++n) {
            my_AddLine(h, "0");
            my_WriteFile(h);
        }
    return h;
}

void *parse_group(char *line, void *rec) {
    auto &g = *static_cast<ap_group_record *>(rec);
    module::fields f(line);
    parse_list(f[0], g.pf_id);
    parse_list(f[1], g.pf_id_5g);
    parse_list(f[2], g.wired_id);
    return rec;
}

int command(ap_host_record *ap) {
    if (!ap) return -1;
    setRemote(1, nullptr, ap->SN, nullptr);
    return ap_sync_host(ap->SN);
}

int discommand(ap_host_record *ap) {
    if (!ap) return -1;
    setRemote(0, nullptr, ap->SN, nullptr);
    return ap_del_host(ap->MAC);
}

// What the AP form fills, by the form's names; an AP has no line, so a
// field's kind only tells a number from a text.  The AP number stands in
// its tunnel devices ("WLAN_PW8_AP%d"), which keep within 15 characters.
using H = ap_host_record;
using module::holds;
#define NUMBER(member, name, def, low, high) \
    MODULE_KEYED(H, member, name, module::kind::number).or_default(#def).is(holds::number, low, high)
#define FLAG(member, name) NUMBER(member, name, 0, 0, 1)
#define TEXT(member, name, def, what) MODULE_KEYED(H, member, name, module::kind::word).or_default(def).is(what)
// A band's radio, its form names ending in suffix.
#define RADIO(b, suffix)                                                                                    \
    NUMBER(radio[b].wireless_mode, "wireless_mode" suffix, 0, 0, 255),                                      \
        TEXT(radio[b].data_rate, "data_rate" suffix, "Auto", holds::word),                                  \
        NUMBER(radio[b].beacon_interval, "beacon_interval" suffix, 100, 1, 65535),                          \
        NUMBER(radio[b].dtim_interval, "dtim_interval" suffix, 0, 0, 255),                                  \
        FLAG(radio[b].high_power, "high_power" suffix),                                                     \
        TEXT(radio[b].transmit_power, "transmit_power" suffix, "100%", holds::text),                        \
        FLAG(radio[b].spanning_tree, "spanning_tree" suffix),                                               \
        NUMBER(radio[b].ack_timeout, "ack_timeout" suffix, 64, 0, 65535),                                   \
        NUMBER(radio[b].slot_time, "slot_time" suffix, 0, 0, 255),                                          \
        FLAG(radio[b].short_gi, "short_gi" suffix), FLAG(radio[b].igmp_snooping, "igmp_snooping" suffix),   \
        FLAG(radio[b].greenfield, "greenfield" suffix),                                                     \
        TEXT(radio[b].channel, "channel" suffix, "0 (Auto)", holds::text),                                  \
        TEXT(radio[b].channel_width, "channel_width" suffix, "Auto 20 / 40 MHz", holds::text),              \
        TEXT(radio[b].channel_ext, "channel_ext" suffix, "Upper", holds::word)
// The profile numbers of the 8 slots or ports, named name1 to name8 (0: none).
#define SLOT(member, name, k) NUMBER(member[k - 1], name #k, 0, 0, INT32_MAX)
#define SLOTS(member, name)                                                                                 \
    SLOT(member, name, 1), SLOT(member, name, 2), SLOT(member, name, 3), SLOT(member, name, 4),             \
        SLOT(member, name, 5), SLOT(member, name, 6), SLOT(member, name, 7), SLOT(member, name, 8)
constexpr auto kFields = module::describe({
    MODULE_KEYED(H, SN, "sn", module::kind::number).is(holds::number, 1, 9999),
    MODULE_KEYED(H, Name, "ah_name", module::kind::word).is(holds::text),
    FLAG(poe, "poe"),
    SLOTS(radio[0].pf_id, "ssid"),
    SLOTS(radio[1].pf_id, "ssid_5g"),
    SLOTS(wired_id, "wired"),
    RADIO(0, ""),
    RADIO(1, "_5g"),
    TEXT(gps_lat, "latitude", "0", holds::decimal),
    TEXT(gps_lng, "longtitude", "0", holds::decimal),
});
#undef NUMBER
#undef FLAG
#undef TEXT
#undef RADIO
#undef SLOT
#undef SLOTS

// The automatic restart, when the form has it, is the settings' summary of
// the settings' restart fields.  Null when the form holds a value a field
// cannot.
ap_host_record *cgi_param(ap_host_record *ap) {
    if (!ap) return nullptr;
    bool refused = module::form_fields(ap, kFields) != nullptr;
    if (qValue("en_Autorestart")) {
        ap_setting_record restart{};
        if (module::form_fields(&restart, ap::restart_fields())) return nullptr;
        try {
            module::set_text(ap->autorestart, ap::restart_summary(restart).c_str());
        } catch (...) {
            return nullptr;
        }
    }
    return refused ? nullptr : ap;
}

const module_table kTable = {
    .name = "ap_host",
    .clear = module::clear<ap_host_record>,
    .set_default = set_default,
    .open = open,
    .getnum = module::getnum<parse_group>,
    .parse = parse_group,
    .close = module::close_file,
    .command = module::op(command),
    .discommand = module::op(discommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(cgi_param),
};

}  // namespace

const module::description module::descriptions::ap_host{"ap_host", kFields};

namespace ap {

void host_defaults(ap_host_record &ap) {
    ap = {};
    ap.SN = 1;
    for (char *text :
         {ap.Name, ap.Username, ap.Passwd, ap.map_id, ap.gps_addr, ap.gps_id, ap.fw_version, ap.autorestart})
        std::strcpy(text, module::kUnset);
    module::set_text(ap.IP, "0.0.0.0");
    module::set_text(ap.MAC, "00:00:00:00:00:00");
    for (char *number : {ap.map_axis_x, ap.map_axis_y, ap.gps_lat, ap.gps_lng}) std::strcpy(number, "0");
    const int32_t modes[] = {6, 28};
    for (int band = 0; band < 2; ++band) {
        ap_radio &r = ap.radio[band];
        r.wireless_mode = modes[band];
        module::set_text(r.data_rate, "Auto");
        r.beacon_interval = 100;
        module::set_text(r.transmit_power, "100%");
        r.ack_timeout = 64;
        r.slot_time = 9;
        module::set_text(r.channel, "0 (Auto)");
        module::set_text(r.channel_width, "Auto 20 / 40 MHz");
        module::set_text(r.channel_ext, "Upper");
        module::set_text(r.wireless_mode_list, nullptr);
        module::set_text(r.channel_ext_list, nullptr);
        for (int i = 0; i < AP_5G_LISTS; ++i) {
            module::set_text(r.high_txpower_list[i], nullptr);
            module::set_text(r.txpower_list[i], nullptr);
            module::set_text(r.channel_list[i].toTxpower, nullptr);
            module::set_text(r.channel_list[i].band, nullptr);
            module::set_text(r.channel_list[i].list, nullptr);
        }
    }
}

}  // namespace ap

extern "C" {

module_table *ap_host_register(void) { return module::register_table(kTable); }
void ap_host_unregister(module_table *table) { module::unregister_table(table); }

int ModifyAPGroupFile(const ap_host_record *ap, int n) {
    if (!ap || n < 1 || n > kGroups) return -1;
    record_file *h = open(nullptr, MODULE_TAG(kSource), 1);
    if (!h) return -1;
    int result = -1;
    try {
        const std::string line = module::line()
                                     .text(join_list(ap->radio[0].pf_id, true).c_str())
                                     .text(join_list(ap->radio[1].pf_id, true).c_str())
                                     .text(join_list(ap->wired_id, false).c_str())
                                     .str();
        result = my_ReplaceLine(h, static_cast<uint32_t>(n), line.c_str());
    } catch (...) {
    }
    module::close_file(&h);
    return result;
}

ap_group_record *GetAPGroupNumData(ap_group_record *group, int n) {
    if (!group) return nullptr;
    record_file *h = open(nullptr, MODULE_TAG(kSource), 0);
    auto *found = static_cast<ap_group_record *>(module::read_number(h, group, n, parse_group));
    module::close_file(&h);
    return found;
}

ll_list *AH_getMySQL_list(void) {
    database db(kInfoDir, "AP_INFO", MODULE_TAG(kSource));
    if (!db) return nullptr;
    ll_list *list = nullptr;
    try {
        const std::string sql = select_list() + order_by();
        sqlite3_stmt *stmt = _my_sqlite_query(db.tag(), db.get(), "%s", sql.c_str());
        if (!stmt) return nullptr;
        list = ll_init();
        while (char **row = list ? _my_sqlite_fetch_row(db.tag(), stmt) : nullptr) {
            auto *ap = static_cast<ap_host_record *>(std::malloc(sizeof(ap_host_record)));
            if (ap) {
                ap::host_defaults(*ap);
                fill(*ap, row);
                if (!ll_append(list, ap)) std::free(ap);
            }
            _my_sqlite_free_row(db.tag(), row);
        }
        _my_sqlite_finalize(db.tag(), stmt);
    } catch (...) {
        AH_closeMySQL(&list);
    }
    return list;
}

ap_host_record *AH_getlineMySQL(ll_list *list, ll_node **cursor) {
    return static_cast<ap_host_record *>(ll_get(list, cursor, 1));
}

void AH_closeMySQL(ll_list **list) {
    if (!list || !*list) return;
    while (void *ap = ll_delete_head(*list)) std::free(ap);
    ll_free(*list);
    *list = nullptr;
}

int AH_modifyMySQL(const ap_host_record *ap) {
    if (!ap) return -1;
    database db(kInfoDir, "AP_INFO", MODULE_TAG(kSource));
    if (!db) return db.failure();
    try {
        const ap_radio &g = ap->radio[0], &a = ap->radio[1];
        std::string lat, lng, gps;
        if (module::is_set(ap->gps_id)) {
            ap::append(lat, ", `gps_lat`=%f", std::strtod(ap->gps_lat, nullptr));
            ap::append(lng, ", `gps_lng`=%f", std::strtod(ap->gps_lng, nullptr));
            ap::append(gps, ", `gps_id`='%s'", lit(ap->gps_id).c_str());
        }
        return DB_EXEC(
            db,
            "UPDATE `ap_list` SET `Name`='%s', `poe`='%d', `autorestart`='%s', `pf_id`='%s', `5G_pf_id`='%s', "
            "`wireless_mode`=%d, `5G_wireless_mode`='%d', `data_rate`='%s', `5G_data_rate`='%s', "
            "`beacon_interval`=%lu, `5G_beacon_interval`='%lu', `dtim_interval`=%d, `5G_dtim_interval`='%d', "
            "`high_power`='%d', `5G_high_power`='%d', `transmit_power`='%s', `5G_transmit_power`='%s', "
            "`spanning_tree`=%d, `5G_spanning_tree`='%d', `ack_timeout`=%d, `5G_ack_timeout`='%d', "
            "`slot_time`=%d, `5G_slot_time`='%d', `short_gi`=%d, `5G_short_gi`='%d', `igmp_snooping`=%d, "
            "`5G_igmp_snooping`='%d', `greenfield`=%d, `5G_greenfield`='%d', `channel`='%s', `5G_channel`='%s', "
            "`channel_width`='%s', `5G_channel_width`='%s', `channel_ext`='%s', `5G_channel_ext`='%s', "
            "`wired_id`='%s'%s%s%s WHERE `SN`=%d",
            lit(ap->Name).c_str(), ap->poe, lit(ap->autorestart).c_str(), join_list(g.pf_id, true).c_str(),
            join_list(a.pf_id, true).c_str(), g.wireless_mode, a.wireless_mode, lit(g.data_rate).c_str(),
            lit(a.data_rate).c_str(), static_cast<unsigned long>(static_cast<uint32_t>(g.beacon_interval)),
            static_cast<unsigned long>(static_cast<uint32_t>(a.beacon_interval)), g.dtim_interval, a.dtim_interval,
            g.high_power, a.high_power, lit(g.transmit_power).c_str(), lit(a.transmit_power).c_str(), g.spanning_tree,
            a.spanning_tree, g.ack_timeout, a.ack_timeout, g.slot_time, a.slot_time, g.short_gi, a.short_gi,
            g.igmp_snooping, a.igmp_snooping, g.greenfield, a.greenfield, lit(g.channel).c_str(),
            lit(a.channel).c_str(), lit(g.channel_width).c_str(), lit(a.channel_width).c_str(),
            lit(g.channel_ext).c_str(), lit(a.channel_ext).c_str(), join_list(ap->wired_id, false).c_str(), lat.c_str(),
            lng.c_str(), gps.c_str(), ap->SN);
    } catch (...) {
        return -1;
    }
}

int AH_deleteMySQL(ll_list *list, const ap_host_record *ap) {
    if (!ap) return -1;
    database db(kInfoDir, "AP_INFO", MODULE_TAG(kSource));
    if (!db) return -1;
    try {
        if (DB_EXEC(db, "DELETE FROM `ap_list` WHERE `MAC`='%s'", lit(ap->MAC).c_str()) != 0 ||
            _my_sqlite_changes(db.tag(), db.get()) != 1)
            return -1;
    } catch (...) {
        return -1;
    }
    const auto same_mac = [](const void *data, const void *mac) {
        return strcasecmp(static_cast<const ap_host_record *>(data)->MAC, static_cast<const char *>(mac));
    };
    std::free(ll_delete(list, ap->MAC, same_mac));
    return 0;
}

int AH_deleteRelative(const char *mac) {
    if (!mac) return -1;
    database db(kClientDir, "AP_CLIENT", MODULE_TAG(kSource));
    if (!db) return db.failure();
    try {
        const std::string m = lit(mac);
        sqlite3_stmt *stmt =
            _my_sqlite_query(db.tag(), db.get(), "SELECT `SN` FROM `ap_list` WHERE `MAC`=UPPER('%s')", m.c_str());
        if (!stmt) return -1;
        const auto found = rows_of(db, stmt, 1);
        if (found.empty()) return 0;
        const unsigned long n = std::strtoul(found[0][0].c_str(), nullptr, 10);

        DB_EXEC(db, "DROP TABLE IF EXISTS `AP_%03lu`", n);
        DB_EXEC(db, "DROP TABLE IF EXISTS `AP_SSIDS_%03lu`", n);
        DB_EXEC(db, "DELETE FROM `block` WHERE `refer_ap_sn` = '%lu'", n);
        DB_EXEC(db, "DELETE FROM `illegal` WHERE `ap_sn` = '%lu'", n);
        stmt = _my_sqlite_query(db.tag(), db.get(),
                                "SELECT `ap_sn`, `mac`, CHAR_LENGTH(`ap_sn`)-CHAR_LENGTH(REPLACE(`ap_sn`, ',', '')) "
                                "FROM `illegal` WHERE FIND_IN_SET('%lu', `ap_sn`) > 0",
                                n);
        const auto listed = stmt ? rows_of(db, stmt, 3) : std::vector<std::vector<std::string>>{};
        for (const auto &row : listed) {
            // The list holds commas + 1 numbers; this AP's is taken out.
            const long pieces = std::strtol(row[2].c_str(), nullptr, 10) + 1;
            std::string rest;
            const char *p = row[0].c_str();
            for (long i = 0; i < pieces && p; ++i) {
                const char *comma = std::strchr(p, ',');
                const std::string item = comma ? std::string(p, comma) : std::string(p);
                if (std::strtoul(item.c_str(), nullptr, 10) != n) rest += (rest.empty() ? "" : ",") + item;
                p = comma ? comma + 1 : nullptr;
            }
            DB_EXEC(db, "UPDATE `illegal` SET `ap_sn`='%s', `utime`=NOW() WHERE `mac`=UPPER('%s')",
                    lit(rest.c_str()).c_str(), lit(row[1].c_str()).c_str());
        }
        return DB_EXEC(db, "DELETE FROM `legal` WHERE `ap` = %lu OR `refer_ap` = %lu", n, n);
    } catch (...) {
        return -1;
    }
}

int AH_clearMap(const char *map_id) {
    if (!map_id) return -1;
    database db(kInfoDir, "AP_INFO", MODULE_TAG(kSource));
    if (!db) return db.failure();
    try {
        // The connection's own database is "main".
        const std::string id = lit(map_id);
        return DB_EXEC(db,
                       "UPDATE `%s`.`ap_list` SET `map_id`='', `map_axis_x`='', `map_axis_y`='', `gps_lat`='', "
                       "`gps_lng`='', `gps_addr`='', `gps_id`='' WHERE `map_id`='%s' OR `gps_id`='%s'",
                       "main", id.c_str(), id.c_str());
    } catch (...) {
        return -1;
    }
}

int AH_updateMap(const char *mac, const char *map_id, double axis_x, double axis_y, double lat, double lng,
                 const char *gps_addr, const char *gps_id) {
    if (!mac) return -1;
    database db(kInfoDir, "AP_INFO", MODULE_TAG(kSource));
    if (!db) return db.failure();
    try {
        return DB_EXEC(db,
                       "UPDATE `ap_list` SET `map_id`='%s', `map_axis_x`='%.2f', `map_axis_y`='%.2f', "
                       "`gps_lat`='%.6f', `gps_lng`='%.6f', `gps_addr`='%s', `gps_id`='%s' WHERE `MAC`='%s'",
                       lit_or_empty(map_id).c_str(), axis_x, axis_y, lat, lng, lit_or_empty(gps_addr).c_str(),
                       lit_or_empty(gps_id).c_str(), lit(mac).c_str());
    } catch (...) {
        return -1;
    }
}

int AH_updateMapByMacMapGps(const char *mac, const char *lng, const char *lat, const char *gps_addr,
                            const char *gps_id) {
    // The coordinates stand in the statement as numbers: nothing else may.
    if (!mac || !module::is_decimal(lng) || !module::is_decimal(lat)) return -1;
    database db(kInfoDir, "AP_INFO", MODULE_TAG(kSource));
    if (!db) return db.failure();
    try {
        return DB_EXEC(db,
                       "UPDATE `ap_list` SET `gps_lng`=%s, `gps_lat`=%s, `gps_addr`='%s', `gps_id`='%s' "
                       "WHERE `MAC`='%s'",
                       lng, lat, lit_or_empty(gps_addr).c_str(), lit_or_empty(gps_id).c_str(), lit(mac).c_str());
    } catch (...) {
        return -1;
    }
}

int AH_updateMapByOrgMapId(const char *old_id, const char *new_id) {
    // The old id names image files: a map's id, nothing else.
    if (!module::is_identifier(old_id) || !new_id) return -1;
    database db(kInfoDir, "AP_INFO", MODULE_TAG(kSource));
    if (!db) return db.failure();
    try {
        const int result = DB_EXEC(db, "UPDATE `ap_list` SET `map_id`='%s' WHERE `map_id`='%s'", lit(new_id).c_str(),
                                   lit(old_id).c_str());
        my_system("/bin/rm -rf %s/%s.*", kEmapDir, module::arg(old_id).c_str());
        return result;
    } catch (...) {
        return -1;
    }
}

int ap_host_reset_status(void) {
    database db(kInfoDir, "AP_INFO", MODULE_TAG(kSource));
    if (!db) return db.failure();
    return DB_EXEC(db, "UPDATE `ap_list` SET `Status`=%d, `IP`='%s', `fw_upgrade`=''", 0, "0.0.0.0");
}

int adjust_time(const char *offset) {
    if (!module::is_decimal(offset) || std::strchr(offset, '.')) return -1;
    database db(kInfoDir, "AP_INFO", MODULE_TAG(kSource));
    if (!db) return db.failure();
    try {
        sqlite3_stmt *stmt = _my_sqlite_query(db.tag(), db.get(), "SELECT COUNT(*) FROM `%s`", "ap_list");
        const auto count = stmt ? rows_of(db, stmt, 1) : std::vector<std::vector<std::string>>{};
        if (count.empty() || std::atol(count[0][0].c_str()) < 1) return 0;
        for (const char *column : {"STime", "ETime"}) {
            const int result = DB_EXEC(db,
                                       "UPDATE `ap_list` SET `%s`=datetime(strftime('%%s', `%s`)+(%s), 'unixepoch') "
                                       "WHERE `%s`!='0000-00-00 00:00:00' ",
                                       column, column, offset, column);
            if (result != 0) return result;
        }
        return 0;
    } catch (...) {
        return -1;
    }
}

int app_login_sql(const char *id, int type, int language, int store) {
    if (!id) return -1;
    database db(kInfoDir, "AP_USER", MODULE_TAG(kSource));
    if (!db) return db.failure();
    try {
        const std::string i = lit(id);
        if (!store) return DB_EXEC(db, "DELETE FROM `app_login` WHERE `ID`='%s'", i.c_str());
        sqlite3_stmt *stmt =
            _my_sqlite_query(db.tag(), db.get(), "SELECT COUNT(*) FROM `app_login` WHERE `ID`='%s'", i.c_str());
        if (!stmt) return -1;
        const auto count = rows_of(db, stmt, 1);
        if (!count.empty() && std::atol(count[0][0].c_str()) > 0)
            return DB_EXEC(db, "UPDATE `app_login` SET `TYPE`='%d', `LANGUAGE`='%d' WHERE `ID`='%s'", type, language,
                           i.c_str());
        return DB_EXEC(db, "INSERT INTO `app_login` (`TYPE`, `LANGUAGE`, `ID`) VALUES ('%d', '%d', '%s')", type,
                       language, i.c_str());
    } catch (...) {
        return -1;
    }
}

int export_ap_list(ap_host_options *options, char *path) {
    auto *list = options && options->host ? static_cast<ll_list *>(options->host->handle) : nullptr;
    if (!list || !path) return 0;
    try {
        std::string text = "# Name, MAC Address, AP Group, Latitude, Longitude\r\n";
        ll_node *cursor = nullptr;
        while (const ap_host_record *a = AH_getlineMySQL(list, &cursor))
            ap::append(text, "\"%s\" %s %d %f %f\r\n", module::escaped_name(a->Name).c_str(), a->MAC, a->Group,
                       std::strtod(a->gps_lat, nullptr), std::strtod(a->gps_lng, nullptr));
        std::snprintf(path, 64, "/var/tmp/%s_%s%s", "AP_Profile", my_getDate(0), ".txt");
        runtime::file_handle f(std::fopen(platform::path(path).c_str(), "w+"));
        if (!f) return 0;
        const bool written = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
        return std::fclose(f.release()) == 0 && written ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
