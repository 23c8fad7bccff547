/*
 * The appliance's shared web-administration library: every CGI of the web
 * interface links it. C linkage throughout, so a C program of the appliance
 * links it too and the symbols are exactly these names.
 *
 * Conventions: failures are negative numbers or null results; missing data
 * (an absent form value, definition or translation) is not a failure.
 * Results said to be "static" live in process-wide buffers that a later
 * call of the same function overwrites, exactly as documented per function.
 * Functions that end the request on bad input do so through qError(), which
 * writes the error page and exits with status 1.
 */
#ifndef WEBADMIN_H
#define WEBADMIN_H

#include <pthread.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The library is built with hidden visibility: what this header declares is
 * exactly what it exports. */
#pragma GCC visibility push(default)

#define WA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

/* ------------------------------------------------------------------------
 * Entry lists: the form value list, text lists, session store, template
 * arguments and language tables are all singly linked lists of these.
 * Each entry, its name and its value are separate heap blocks owned by the
 * list.  The value is NUL-terminated even when it holds binary bytes.
 * ---------------------------------------------------------------------- */
typedef struct q_entry {
    char *name;
    char *value;
    struct q_entry *next;
} q_entry;

/* Empty name: nothing, null.  Empty list: a new head.  Else replaces the
 * value of the first entry of that name, or appends; returns that entry. */
q_entry *_EntryAdd(q_entry *first, const char *name, const char *value);
char *_EntryValue(q_entry *first, const char *name);   /* first match or null */
int _EntryiValue(q_entry *first, const char *name);    /* atoi of it, or 0 */
int _EntryNo(q_entry *first, const char *name);        /* 1-based position, 0 when absent */
q_entry *_EntryRemove(q_entry *first, const char *name); /* removes every match; new head */
void _EntryFree(q_entry *first);
int _EntryPrint(q_entry *first);  /* sends text/html header, prints "'%s' = '%s'<br>\n" each */
/* The entry store file: two comment lines, then name=URL-encoded value per
 * entry.  Names go as they are: no '=', line feed or leading '#'.  1 when
 * the whole file was written, 0 when it cannot be opened or written. */
int _EntrySave(q_entry *first, const char *file);
q_entry *_EntryLoad(const char *file);  /* the list read back, or null when unreadable */

/* ------------------------------------------------------------------------
 * Form and query decoding (the process-wide form value list).
 * Name arguments are printf formats; the formatted name must fit in 1024
 * bytes or the request ends through qError().
 * ---------------------------------------------------------------------- */
char _x2c(char hi, char lo);             /* byte of two hex digits, no validation */
char *qURLdecode(char *str);             /* in place; '+' to space, %XX; null stays null */
char *_makeword(char *line, char stop);  /* heap word up to stop; rest moved to line start */
char *_fgets(char *buf, int size, FILE *stream); /* a line of at most size-1 bytes, or null */
char *_get_query(const char *method);    /* "GET", "POST", "COOKIE": raw source, heap, or null */

int qDecoder(void);  /* entries decoded; -1 when the list was already filled */
char *qValue(const char *format, ...) WA_PRINTF(1, 2);
int qiValue(const char *format, ...) WA_PRINTF(1, 2);
/* The byte count of the first value of that name when it is an uploaded
 * file the decoder holds in memory, or -1.  Unlike the "%s.length" value,
 * which is only a form value, a request cannot forge it. */
long long qValueLength(const char *format, ...) WA_PRINTF(1, 2);
char *qValueDefault(const char *defstr, const char *format, ...) WA_PRINTF(2, 3);
char *qValueNotEmpty(const char *errmsg, const char *format, ...) WA_PRINTF(2, 3);
char *qValueFirst(const char *format, ...) WA_PRINTF(1, 2);
char *qValueNext(void);
char *qValueAdd(const char *name, const char *format, ...) WA_PRINTF(2, 3);
void qValueRemove(const char *format, ...) WA_PRINTF(1, 2);
/* mode "sn","sr","tn","tr": string or token replacement; n returns a new heap
 * string from the first entry, r replaces every entry's value in place. */
char *qValueReplace(const char *mode, const char *name, const char *tokstr, const char *word);
char qValueType(const char *format, ...) WA_PRINTF(1, 2); /* 'C','G','P','N' or '-' */
char *qCookieValue(const char *format, ...) WA_PRINTF(1, 2);
q_entry *qValueList(void);
int qValuePrint(void);
/* File parts of later multipart decodes go to files under dir; maxsize 0 = no limit.
 * A dir of 1024 characters or more is refused (disk mode stays off). */
void qUploadToDisk(const char *dir, int maxsize);
void qFree(void);
void qFreeAll(void);  /* qFree, qSessionFree, qAwkClose */

q_entry *qsDecoder(const char *str);     /* name=value lines; null for null */
q_entry *qfDecoder(const char *file);    /* the same over a file; null when unreadable */
char *qsValue(q_entry *first, const char *format, ...) WA_PRINTF(2, 3);
int qsiValue(q_entry *first, const char *format, ...) WA_PRINTF(2, 3);
char *qsValueFirst(q_entry *first, const char *format, ...) WA_PRINTF(2, 3);
char *qsValueNext(void);
void qsFree(q_entry *first);
int qsPrint(q_entry *first);

/* ------------------------------------------------------------------------
 * Sessions: name/value pairs kept between requests in a repository
 * directory, named by the 32 hex digits of the cookie "QSESSIONID", expiring
 * after an idle interval (1800 s unless set).  One session per process.
 * Every call except qSessionSave and qSessionFree needs qSession first and
 * otherwise ends the request through qError().  Names beginning with "_Q_"
 * are the session's own and cannot be added or removed.
 * ---------------------------------------------------------------------- */
/* Before qContentType.  repository null: "/tmp".  1 when a new session was
 * made (its cookie sent), 0 when the request's one was opened; once started,
 * the new flag again.  A cookie that is not 32 hex digits names no session. */
int qSession(const char *repository);
char *qSessionAdd(const char *name, const char *format, ...) WA_PRINTF(2, 3); /* the stored value */
int qSessionAddInteger(const char *name, int valueint);
int qSessionUpdateInteger(const char *name, int plusint);  /* the new value */
char *qSessionValue(const char *format, ...) WA_PRINTF(1, 2);
int qSessionValueInteger(const char *format, ...) WA_PRINTF(1, 2);
void qSessionRemove(const char *format, ...) WA_PRINTF(1, 2);
char *qSessionGetID(void);
time_t qSessionGetCreated(void);
time_t qSessionSetTimeout(time_t seconds);  /* at least 1; the interval */
int qSessionPrint(void);
/* Stores a session that was written into or opened from the repository, and
 * moves its expiry forward; nothing without a session. */
void qSessionSave(void);
/* qSessionSave, the repository clean-up, then no session.  Run by qFreeAll(). */
void qSessionFree(void);
void qSessionDestroy(void);  /* its files, its cookie (header still open) and the session gone */
/* At most once per interval over the whole repository: deletes the expired
 * sessions' files; how many. */
int _clearRepository(void);

/* ------------------------------------------------------------------------
 * Response headers, cookies and the error page.
 * ---------------------------------------------------------------------- */
void qContentType(const char *mimetype);  /* "Content-Type: %s\n\n" once per process */
int qGetContentFlag(void);
void qResetContentFlag(void);
/* Before qContentType only.  days 0: no expiry; path must start with '/';
 * domain must hold a '.' and no '/'; a cookie text of 4096 bytes or more
 * ends the request rather than being cut. */
void qCookieSet(const char *name, const char *value, int exp_days,
                const char *path, const char *domain, int secure);
void qCookieRemove(const char *name, const char *path, const char *domain, int secure);
void qRedirect(const char *url);
void qJavaScript(const char *format, ...) WA_PRINTF(1, 2);
/* Error page (or "Error: %s\n" outside a web server), then exit(1). */
void qError(const char *format, ...) WA_PRINTF(1, 2) __attribute__((noreturn));
void qErrorLog(const char *file);
void qErrorContact(const char *msg);
char *qGetenvDefault(const char *nullstr, const char *envname);
char *qCGIname(void);  /* base name of SCRIPT_NAME (cut at 255) in a static buffer, or null */

typedef struct q_cgi_env {
    char *auth_type, *content_length, *content_type, *document_root,
         *gateway_interface, *http_accept, *http_accept_encoding,
         *http_accept_language, *http_connection, *http_cookie, *http_host,
         *http_referer, *http_user_agent, *query_string, *remote_addr,
         *remote_host, *remote_port, *remote_user, *request_method,
         *request_uri, *script_filename, *script_name, *server_admin,
         *server_name, *server_port, *server_protocol, *server_software,
         *server_signature, *unique_id;
    int32_t year, mon, day, hour, min, sec;
} q_cgi_env;
void qCGIEnvironment(q_cgi_env *env);

void qPuts(int mode, const char *buf);  /* modes 0,1-6,10,11-16,23,26,33,36 */
int qPrintf(int mode, const char *format, ...) WA_PRINTF(2, 3);
void qResetState(void);

/* ------------------------------------------------------------------------
 * Digest, encoding, string and file helpers.
 * ---------------------------------------------------------------------- */
typedef struct md5_context {
    uint32_t state[4];
    uint32_t count[2];   /* bit count, low word first */
    unsigned char buffer[64];
} md5_context;
void MD5Init(md5_context *ctx);
void MD5Update(md5_context *ctx, const void *input, size_t len);
void MD5Pad(md5_context *ctx);
void MD5Final(unsigned char digest[16], md5_context *ctx);  /* clears ctx */

char *qMD5StrLen(const void *data, size_t len);  /* 32 hex digits, static (own buffer) */
char *qMD5Str(const char *str);                  /* up to the NUL, static (own buffer) */
char *qMD5FileStr(const char *filename);         /* static, or null */
char *qUniqueID(void);                           /* static */

char *qURLencode(const char *str);  /* new heap string, or null */
char *qRemoveSpace(char *str);
char *qStrupr(char *str);
char *qStrLower(char *str);
int qStrIsAlnum(const char *str);
int qStrincmp(const char *s1, const char *s2, size_t len);
int qStrCaseCmp(const char *s1, const char *s2);
char *qStrCaseStr(const char *s1, const char *s2);
/* mode "sn","sr","tn","tr"; 'r' writes the result over src (room needed).
 * An empty token string replaces nothing. */
char *qStrReplace(const char *mode, char *srcstr, const char *tokstr, const char *word);
int qCheckEmail(const char *email);
int qCheckURL(const char *url);
char *_strtok2(char *str, const char *token, char *retstop);
char *qStrCommaNumber(int number);  /* static 16 bytes */

q_entry *qSedArgAdd(q_entry *first, const char *name, const char *format, ...) WA_PRINTF(3, 4);
char *qSedStrValue(q_entry *first, const char *name);
void qSedArgFree(q_entry *first);
int qSedArgPrint(q_entry *first);
/* 0 for a null text or stream, else 1.  Include names of 1024 characters or more,
 * includes nested deeper than 16, and includes past the 64th that one text
 * opens are reported as open failures. */
int qSedStr(q_entry *first, const char *srcstr, FILE *fpout);
int qSedFile(q_entry *first, const char *filename, FILE *fpout);

/* Awk-style reading: fields is an array of Q_AWK_MAX_FIELDS slots of
 * Q_AWK_FIELD_SIZE bytes; longer fields are cut, and the last slot keeps
 * the rest of a line that has more fields than slots. */
enum { Q_AWK_FIELD_SIZE = 1024, Q_AWK_MAX_FIELDS = 64 };
int qAwkOpen(const char *filename, char separator);
int qAwkNext(char array[][Q_AWK_FIELD_SIZE]);
int qAwkClose(void);
int qAwkStr(char array[][Q_AWK_FIELD_SIZE], char *str, char delim);

int _flockopen(FILE *fp);
int _flockclose(FILE *fp);
FILE *qfopen(const char *path, const char *mode);
int qfclose(FILE *stream);
char *qfGetLine(FILE *fp);                   /* heap line with its LF, or null at EOF */
char *qReadFile(const char *filename, int *size);  /* heap bytes + NUL, or null (also a directory) */
long qFileSize(const char *filename);        /* -1 when stat fails */
int qCheckFile(const char *format, ...) WA_PRINTF(1, 2);
int qCatFile(const char *format, ...) WA_PRINTF(1, 2);
/* Bytes stored, or -1; a spilled upload is moved to filename instead. */
int qSaveData(const void *data, int size, const char *filename, const char *mode);
struct tm *qGetTime(void);
time_t qGetGMTime(char *gmt, time_t plus_sec);
char *qGetTimeStamp(void);  /* static 16 bytes */

/* ------------------------------------------------------------------------
 * Lists and trees of opaque data pointers, each with its own mutex so that
 * threads may share one.  They never own the data: freeing one frees its
 * nodes only.  A null container is accepted everywhere (0, null or -1).
 * Operations with a lock argument take the mutex only when it is non-zero,
 * for a caller that already holds it (a traversal's visit); all others
 * always lock.  The mutexes are not recursive.
 * ---------------------------------------------------------------------- */
typedef struct ll_node {
    struct ll_node *next;
    void *data;
} ll_node;

/* A circle: the tail's next is the head. */
typedef struct ll_list {
    uint32_t count;
    ll_node *tail;  /* null when empty */
    pthread_mutex_t mutex;
} ll_list;

/* compare(data, key): 0 when the node's data matches the key. */
typedef int (*ll_compare)(const void *data, const void *key);
/* visit(data, argument): 0 stops a traversal.  It must not unlink nodes. */
typedef int (*ll_visit)(void *data, void *argument);

ll_list *ll_init(void);       /* new empty list, or null */
int ll_empty(ll_list *list);  /* 1 for null or no nodes; does not lock */
uint32_t ll_count(ll_list *list);
void *ll_head(ll_list *list);
void *ll_tail(ll_list *list);
/* Both return the list, or null (list unchanged) when no node can be had. */
ll_list *ll_append(ll_list *list, void *data);   /* becomes the new tail */
ll_list *ll_prepend(ll_list *list, void *data);  /* becomes the new head */
/* Iteration: *cursor null starts at the head.  The data of the node after
 * *cursor, which moves to it; null (cursor kept) past the tail. */
void *ll_get(ll_list *list, ll_node **cursor, int lock);
void *ll_find(ll_list *list, const void *key, int lock, ll_compare compare);
/* 1 when every node was visited, 0 when visit stopped it or it is empty. */
int ll_traverse(ll_list *list, int lock, ll_visit visit, void *argument);
/* Exchanges the places of the first matches of a and b; 0, or -1 when
 * either is missing. */
int ll_swapline(ll_list *list, const void *key_a, const void *key_b, int lock, ll_compare compare);
void *ll_delete(ll_list *list, const void *key, ll_compare compare);  /* its data, or null */
void *ll_delete_head(ll_list *list);
void *dq_pop(ll_list *list);  /* ll_delete_head: ll_append pushes, dq_pop takes */
void *ll_delete_tail(ll_list *list);
void ll_free(ll_list *list);

typedef struct bt_node {
    struct bt_node *left;
    struct bt_node *right;
    void *data;
} bt_node;

/* compare(a, b): exactly -1, 0 or 1.  Called as (new or searched item, item
 * in the tree): insertion sends all but -1 right, a search takes all but -1
 * and 1 as found. */
typedef int (*bt_compare)(const void *a, const void *b);

typedef struct bt_tree {
    uint32_t count;  /* insertions less successful deletions */
    bt_node *root;
    bt_compare compare;
    pthread_mutex_t mutex;
} bt_tree;

bt_tree *bt_init(bt_compare compare);  /* new empty tree, or null */
int bt_empty(bt_tree *tree);           /* 1 when there is no root; does not lock */
uint32_t bt_count(bt_tree *tree);
/* Inserts at the root, equal items to the right of the old ones; the tree,
 * or null (tree unchanged) when no node can be had. */
bt_tree *bt_add(bt_tree *tree, void *data);
void *bt_find(bt_tree *tree, const void *key, int lock);
void *bt_delete(bt_tree *tree, const void *key);  /* its data, or null */
void *bt_min(bt_tree *tree);
void *bt_max(bt_tree *tree);
int bt_height(bt_tree *tree);  /* levels; 0 when empty, -1 out of memory */
/* order 0 pre-order, 1 ascending, 2 post-order, 4 descending: the data at
 * which visit stopped the walk, or null when it completed.  Order 3, level
 * by level through an ll_ queue, always returns null.  Other orders visit
 * nothing.  Walks need no recursion, so a degenerate tree is no danger;
 * out of memory, a depth-first walk ends early and returns null. */
void *bt_traverse(bt_tree *tree, int lock, int order, ll_visit visit, void *argument);
void bt_free(bt_tree *tree);

/* ------------------------------------------------------------------------
 * Network address helpers for the configuration modules' rules and routes.
 * Texts returned are static buffers used in rotation (64 for identifiers,
 * marks and full IPv6 forms, 24 for network and broadcast addresses of
 * each family, 128 for my_inet_ntoa): valid until their turn comes again.
 * ---------------------------------------------------------------------- */
/* Queues the command for the daemon that applies packet-filter rules:
 * family 4 or 6; the text's first blank-separated word is a diagnostic
 * prefix, the rest the command.  0, or -1 (logged).  A full queue is retried
 * until it takes the command; after about two seconds of that the process
 * says once on standard error "PROGRAM: waiting for the firewall daemon to
 * read the IPv4 firewall queue" (or IPv6).  With SYSTEM_DEBUG_IPTABLES the
 * IPv4 command's arguments run at once through /sbin/iptables-static (its
 * wait status). */
int my_iptables(int family, const char *format, ...) WA_PRINTF(2, 3);

/* A record's identifier: 14 digits of local time, now when t <= 0. */
char *my_chainID(time_t t);
/* The identifier taken as UTC, in seconds since 1970; 0 unless it is 14
 * digits of a real date and time from 1970 on. */
time_t gTime(const char *id);
char *id2mark(const char *id);  /* gTime as "%08X"; null unless 14 characters */
int isLeapYear(int year);
/* 1000-7999 from rand() seeded with seed, or with the clock when 0. */
int my_rand_num(unsigned int seed);
char *my_classmark(void);  /* my_rand_num(0) as text */

/* Dotted text to a number, first octet on top; missing octets 0, 0 when
 * not one can be read. */
uint32_t my_inet_addr(const char *text);
char *my_inet_ntoa(uint32_t address);
int my_mask_to_int(const char *mask);  /* bits set, 0-32 */
/* Host addresses of the mask: 2^(32-n) - 2, 1 for /32, 0 for /31 and /0. */
int my_usable_ip(const char *mask);
/* address AND mask.  An address with ':' is IPv6: mask is then the prefix
 * length and the result compressed ("::" when unreadable). */
char *my_netid(const char *address, const char *mask);
/* address OR NOT mask (255.255.255.255 for an unreadable mask); IPv6 as
 * my_netid with the host bits set. */
char *my_broadcast(const char *address, const char *mask);
/* The eight groups as "%04x" each; all zero when unreadable. */
char *my_ipv6_transfer(const char *text);
int isc_net_pton(int af, const char *src, void *dst);  /* inet_pton */
const char *isc_net_ntop(int af, const void *src, char *dst, size_t size);  /* inet_ntop */

/* The number after the first of "eth", "LAN", "WAN", "DMZ", "Port", "ipsec"
 * that name begins with; 0 for any other name. */
int my_nameseq(const char *name);
/* Bit 0: the interface is up, bit 1: running; 0 when it cannot be asked. */
int my_iface_isup(const char *name);
int my_get_ifaddr(const char *name, char *out);  /* out of 16 bytes: its IPv4 address; 0, or -1 */
/* The interfaces "/sbin/ip link show" lists with BROADCAST and without
 * NOARP, blank-separated into out (1024 bytes: names that would not fit are
 * left out); how many were written. */
int my_device(char *out);
/* "SECONDS 0": the whole seconds of /proc/uptime, replacing the file; 0, or -1. */
int my_record_time(const char *path);

/* The system address table, shared by the appliance's programs: the (port,
 * address) pairs announced with ARP, each counted by its users.  Ports
 * below 1, null, unreadable and 0.0.0.0 addresses are refused (-1). */
int my_add_bcast_system_ip(int port, const char *address);  /* 0, or -1 (also when full) */
int my_del_bcast_system_ip(int port, const char *address);  /* 0, or -1 when absent */
int my_send_bcast_system_ip(void);   /* announces every entry on its interface; 0, or -1 */
void my_clear_bcast_system_ip(void);
/* One gratuitous ARP request of address (network order) on the interface,
 * to the link's broadcast address; 0, or -1 (logged). */
int my_send_ifndex_masq_broadcast(int ifindex, uint32_t address);

/* ------------------------------------------------------------------------
 * Product definitions, system information block, theme.
 * ---------------------------------------------------------------------- */
/* Splits line in place into at most max tokens (blanks separate, double
 * quotes group with backslash escapes).  Returns the count, -1 when a
 * quoted token is not closed. */
int string_parse(char **tokens, int max, char *line);

int IF_DEFINE(const char *name);           /* 1 when the value begins with y/Y */
const char *RETURN_DEF_STR(const char *name);  /* in the segment, or null */
int RETURN_DEF_INT(const char *name);
unsigned int RETURN_DEF_UINT(const char *name);
int init_configuration(void);              /* non-zero when attached and loaded */
int SET_DEFINE(const char *name, const char *value);
int ADD_DEFINE(const char *name, const char *value);  /* -1 when full or not attached */
int DEL_DEFINE(const char *name);
/* Writes NAME = "value" into the working definitions file and reloads; -1
 * also for a name that is not one token or a value holding a line break. */
int save_configuration(const char *name, const char *value);
void *get_define_segment(void);            /* address of the definitions segment, or 0 */

/* The 76-byte system information record (the first 60 bytes are also the
 * layout of a firmware image's header). */
typedef struct system_info_record {
    char vendor[21];
    char model[20];
    char major[3];
    char minor[3];
    char revision[3];
    char product_id[26];
} system_info_record;

extern char html_fmt[200][30];   /* theme table */
extern char entry_num[100][20];  /* capacity table */
int my_systemInfo(char *buf);    /* 0, or -1 */
int write_systemInfo(const char *buf);  /* 0, or -1 */
/* Rows stored from the column of id; a row's last byte is never written. */
int read_parameter(const char *path, char *buf, int max_rows, int row_size, unsigned int id);

/* System information block: integers 0-159, strings 0-79 of 256 bytes.
 * Null when not attached or the index is outside the block. */
int *RI(int index);
int *WI(int index, int value);
char *RS(int index);
char *WS(int index, const char *str);  /* at most 255 characters; byte 255 untouched */

/* ------------------------------------------------------------------------
 * Language strings.  A table is an entry list of ("${NAME}", text).
 * ---------------------------------------------------------------------- */
extern char icons_path[128];
/* "MULTI_LANG" when it is a code (letters, digits, '-', '_') without "null",
 * else fallback, "eng" when that is null; one of 16 rotating 10-byte slots. */
char *now_language(const char *fallback);
/* "common" then group into *table, or into the default table when table or
 * *table is null (*table then shares it); returns the head filled. */
q_entry *load_my_language(const char *code, const char *group, q_entry **table);
q_entry *load_static_language(const char *code, const char *group, q_entry **table); /* group only */
int load_language(const char *code, const char *group, char *rows, int max_rows, int row_size,
                  q_entry **table);
int load_data_file(const char *path, char *rows, int max_rows, int row_size);  /* rows filled */
const char *Name2Str(q_entry **table, const char *text);  /* the text, or text itself */

/* ------------------------------------------------------------------------
 * Commands, text and file-system helpers.  Every command goes through the
 * platform layer's runner.
 * ---------------------------------------------------------------------- */
int my_system(const char *format, ...) WA_PRINTF(1, 2);  /* wait status, -1 */
int system_action(const char *command);  /* as my_system, unformatted; 0 for null */
/* string_parse tokens run through execvp, no shell; 127 << 8 when nothing starts */
int exec_action(const char *command);
int my_exec(const char *format, ...) WA_PRINTF(1, 2);  /* formats, then exec_action */

typedef struct my_proc {
    struct my_proc *next;
    int pid;
    char state;
} my_proc;
my_proc *my_proc_list(const char *name);  /* caller frees each node */
int my_proc_pid(const char *name);  /* first of that name whose parent is 1, or -1 */
void my_killproc(const char *name, int signo);  /* every process of that name */

/* File operations on appliance paths: in-process first, the shell as fallback;
 * a '*' is left to the shell's expansion.  Null paths do nothing.  my_rm of
 * a path under /etc/sysconfig/.firewall/ removes its flash copy too. */
void my_rm(const char *format, ...) WA_PRINTF(1, 2);
void my_mv(const char *from, const char *to);
void my_mkdir(const char *format, ...) WA_PRINTF(1, 2);  /* mode 0777; the fallback makes parents */
void my_cp(const char *from, const char *to);  /* a tree, with modes, owners and times */
char *concat_path_file(const char *path, const char *filename);  /* heap, one '/' between; or null */
int isDirectory(const char *path);     /* 1 or 0; links are not followed */
int isRegularFile(const char *path);   /* 1 or 0; links are not followed */
int isSymbloicLink(const char *path);  /* 1 or 0 */
long long my_file_size(const char *path);  /* 0 when absent */

char *M(const char *format, ...) WA_PRINTF(1, 2);  /* one of 128 rotating 512-byte buffers */
char *xasprintf(const char *format, va_list args) WA_PRINTF(1, 0);  /* heap, or null */
/* Heap prev + the text; prev is always freed; null when formatting fails. */
char *my_string(char *prev, const char *format, ...) WA_PRINTF(2, 3);
/* In place into at most max pieces at each whole separator, the rest in the
 * last; the other slots null.  Returns the count. */
int string_tokenize(char **tokens, int max, char *text, const char *separator);
char *my_replaceStr(const char *text, const char *from, const char *to);  /* heap; null for null text */
char *my_MreplaceStr(const char *text, const char *const pairs[][2]);  /* pairs end at a null from */
int my_calc_strchr(const char *text, char c);
/* Heap copy with a backslash before each byte of set, 0x1A as "\\Z"; null for null or 0. */
char *my_strescape(const char *src, size_t len, const char *set, size_t setlen);
char *my_sqlescape(const char *src, size_t len);  /* my_strescape for a MySQL string literal */
/* Heap copy with &, <, >, " and ' written as entities: safe as element
 * content and inside a quoted attribute.  Null for null or no memory. */
char *my_htmlescape(const char *text);
/* A value as one word of a shell command line, on the heap: the value itself
 * when it is a plain word (letters, digits and . : _ - /, not beginning
 * with '-'), else in single quotes with each quote written '\'' .  Null for
 * null or no memory. */
char *my_shellword(const char *value);
char *my_getDate(int days);  /* one of 64 rotating 10-byte buffers */

/* ------------------------------------------------------------------------
 * What only the appliance has.  On the appliance (APPLIANCE_ROOT unset or
 * "/") each call is the plain system call with the appliance's own paths
 * and keys.  With APPLIANCE_ROOT=DIR the program runs in a sandbox: paths
 * resolve inside DIR, commands and the restart are appended one per line
 * to DIR/commands.log instead of being run (and report success), syslog
 * messages go to DIR/syslog.log, System V keys are private to DIR, and
 * APPLIANCE_SLEEP=0 skips sleeps.  Every function of this library that
 * touches the appliance goes through these; a page does the same.
 * ---------------------------------------------------------------------- */
/* The file-system path of an appliance path; relative paths and paths
 * already inside the sandbox stay as they are.  One of 8 rotating
 * 4096-byte buffers; null for null, or when the path does not fit. */
const char *my_path(const char *path);
/* The C library's system(): no formatting, none of my_system's signal
 * handling.  Its result, or 0 when recorded in a sandbox. */
int my_libc_system(const char *command);
/* syslog(), %m included; in a sandbox "<PRIORITY>MESSAGE" as one line of
 * DIR/syslog.log (a final line feed dropped, at most 2047 bytes). */
void my_syslog(int priority, const char *format, ...) WA_PRINTF(2, 3);
void my_sleep(unsigned int seconds);
void my_reboot(void);  /* reboot(RB_AUTOBOOT); "<reboot>" in a sandbox, and returns */
/* The key to use for one of the appliance's fixed System V keys.  In a
 * sandbox: the low 16 bits of the appliance key under 16 bits derived from
 * DIR, so that every object of one sandbox shares the high half. */
key_t my_ipc_key(key_t appliance_key);
/* Removes the shared memory segments and message queues of the sandbox
 * rooted at root (an existing directory): the number removed. */
int my_ipc_remove_sandbox(const char *root);

/* ------------------------------------------------------------------------
 * Web-login helpers: the privilege table and friends.
 * ---------------------------------------------------------------------- */
enum { PRIV_USER_SIZE = 85, PRIV_POSITIONS = 300, PRIV_MAX_USERS = 50, PRIV_FUNCTIONS = 238 };
typedef struct privilege_record {
    char user[PRIV_USER_SIZE];
    unsigned char priv[PRIV_POSITIONS];
} privilege_record;
/* The image my_privilege_load copies: the segment's layout after its lock. */
typedef struct privilege_image {
    int32_t count;
    privilege_record records[PRIV_MAX_USERS];
} privilege_image;

void my_setcookie(void);  /* nothing: the web server authenticates */
/* The user's byte for a function (< 238) or at a position (< 300); 0 for a
 * null or unknown user, a number out of range, or no segment.  The setters
 * store the low byte of value and return it, or 0. */
int my_func_privilege_name(int func, const char *user);
int my_func_privilege_set(int func, const char *user, int value);
int my_privilege_name(int pos, const char *user);
int my_privilege_set(int pos, const char *user, int value);
/* Sorts the image's records by user and replaces the table with them; 0, or
 * -1 for a null image, a count outside 0 to 50, or no segment. */
int my_privilege_load(privilege_image *image);
/* Both keep only whole levels: the text stops before one that does not fit. */
char *encodeMenuLV(const char *query);  /* static 1024 bytes, click_v values joined by '_' */
char *decodeMenuLV(const char *path);   /* static 50 bytes, or null for null */
/* Static 44 bytes, DES form (24 characters past 8); null for a null password,
 * a salt not beginning with two salt characters (another crypt method), or
 * a system without the crypt library (bound at run time). */
char *my_pwencrypt(const char *password, const char *salt);
/* out needs 4 * ((len + 2) / 3) + 1 bytes. */
void to64frombits(unsigned char *out, const unsigned char *in, int len);
/* out needs 3 * (strlen(in) / 4) + 3 bytes.  Bytes written, or -1.  A last
 * group of two or three characters decodes as if padded. */
int base64_decode_text(unsigned char *out, const char *in);
int my_get_imac(const char *ifname, char *out);  /* out: 18 bytes; 0, or -1 */
int my_arp_mac(const char *ip, char *out);       /* out: 18 bytes; 0, or -1 when absent */

/* ------------------------------------------------------------------------
 * Configuration record files: numbered text files of one record per line,
 * held in memory by a handle from open to close.
 * ---------------------------------------------------------------------- */
enum { FILE_LIST_ROWS = 229, FILE_PATH_SIZE = 200, RECORD_LINE_MAX = 262143 };
typedef struct file_row {
    int32_t number;               /* equals the row's index */
    char path[FILE_PATH_SIZE];    /* rows 0-9: scratch rows for my_open_path */
} file_row;
extern file_row file_list[FILE_LIST_ROWS];

typedef struct record_line {
    uint32_t number;              /* 1-based line number */
    char *text;                   /* heap text without its newline */
    struct record_line *next;     /* in line-number order */
} record_line;

typedef struct record_file {
    uint32_t count;               /* lines held */
    void *lock;                   /* always null */
    int32_t number;               /* row of file_list */
    int32_t mode;                 /* 0 read only; non-zero: written back on close */
    uint32_t cursor;              /* position of the next my_GetLine */
    record_line *lines;
    void *document;               /* XML handles only */
} record_file;

/* A new handle with every line of file number (an empty one for a missing
 * file or a number outside the table); null only when memory runs out. */
record_file *my_ReadFile(int number, int mode, const char *tag);
/* Through the next scratch row (0-9 in rotation); a path of 200 characters
 * or more gives an empty handle that writes nothing. */
record_file *my_open_path(const char *path, int mode, const char *tag);
char *my_GetLine(record_file *h, uint32_t *number_out, int restart);  /* restart 1: first line */
char *my_GetNumData(record_file *h, uint32_t n);
/* 0, or -1.  The new line's number is count + 1, or one past the highest
 * when a deletion left count + 1 taken: no two lines share a number. */
int my_AddLine(record_file *h, const char *text);
int my_ReplaceLine(record_file *h, uint32_t n, const char *text); /* appends when absent */
int my_DelLine(record_file *h, uint32_t n);
int my_ShiftLine(record_file *h, uint32_t from, uint32_t to);  /* -1 also for line 0 */
/* Replaces the file with the lines, written beside it and renamed over it,
 * so a reader sees the old file or the new one, never a part.  Kernel
 * files, pipes, and files whose owner this process cannot keep are
 * rewritten in place. */
void my_WriteFile(record_file *h);
void my_CloseFile(record_file *h);  /* writable: write, mirror to flash; frees */
void my_writeToConfigPart(const char *path);
const char *my_FileName(int number);  /* null outside 0-228 */
void my_RemoveFile(int number);

/* ------------------------------------------------------------------------
 * SQLite database files, through the library bound at run time on first use
 * ("/lib/libsqlite3.so.0.8.6", else the loader's "libsqlite3.so.0"), all
 * its functions or none, tried again on the next call after a failure.
 * tag names the caller in the syslog messages of failed attempts.  Paths
 * are the appliance's.
 * ---------------------------------------------------------------------- */
typedef struct sqlite3 sqlite3;
typedef struct sqlite3_stmt sqlite3_stmt;
typedef int (*my_sqlite_callback)(void *argument, int columns, char **values, char **names);

/* Ten tries a second apart: 0 with *db set, the last error, or -1 without
 * the library.  The connection knows the MySQL functions INET_ATON, NOW,
 * CHAR_LENGTH and FIND_IN_SET when the library can register functions. */
int _my_sqlite_connect(const char *tag, sqlite3 **db, const char *path);
/* Three tries two seconds apart: the prepared statement, or null. */
sqlite3_stmt *_my_sqlite_query(const char *tag, sqlite3 *db, const char *format, ...) WA_PRINTF(3, 4);
/* The next row: heap copies of its first 100 column texts (a NULL stays
 * null) and a null, 101 slots; null when no row follows. */
char **_my_sqlite_fetch_row(const char *tag, sqlite3_stmt *stmt);
void _my_sqlite_free_row(const char *tag, char **row);
int _my_sqlite_column_count(const char *tag, sqlite3_stmt *stmt);  /* steps once: the columns of a row, or 0 */
int _my_sqlite_finalize(const char *tag, sqlite3_stmt *stmt);
int _my_sqlite_changes(const char *tag, sqlite3 *db);
/* Three tries two seconds apart: 0, the last error, or -1 (no library, no format). */
int _my_sqlite_exec(const char *tag, sqlite3 *db, my_sqlite_callback callback, const char *format, ...)
    WA_PRINTF(4, 5);
int _my_sqlite_close(const char *tag, sqlite3 *db);  /* ten tries: 0, or -1 */
/* _my_sqlite_close, then the file copied to the configuration flash unless
 * /var/boot exists; 0, or -1 (nothing copied). */
int _my_sqlite_sync_close(const char *tag, sqlite3 *db, const char *path);

/* ------------------------------------------------------------------------
 * The appliance's MySQL client, bound at run time on first use
 * ("/usr/lib/libmysqlclient.so.15", else the loader's
 * "libmysqlclient.so.15"), all its functions or none, tried again on the
 * next call after a failure.  Besides the usual client calls it offers
 * MySQL_CONNECT(conn, database), which sets up the caller's connection
 * object and connects it to the local server, MySQL_QUERY(conn, format,
 * ...) and mysql_reconnect(conn), 0 once connected again.  A caller keeps
 * the connection object (the client header's MYSQL) and needs the header
 * only, not the library.  Waits are the platform's (APPLIANCE_SLEEP=0
 * skips them).
 * ---------------------------------------------------------------------- */
typedef struct st_mysql MYSQL;
typedef struct st_mysql_res MYSQL_RES;
typedef struct st_mysql_field MYSQL_FIELD;
typedef char **MYSQL_ROW;

/* Ten tries a second apart: the first non-negative result, the last
 * failure, or -1 without the client. */
int my_mysql_connect(MYSQL *conn, const char *arg);
/* Up to five tries.  A duplicate key (1062) ends them at once; any other
 * failure waits for mysql_reconnect to succeed (asked once a second) and
 * two seconds more.  The last failure is logged.  The result of
 * MySQL_QUERY, or -1 without the client or a connection, or when format
 * fails. */
int my_mysql_query(MYSQL *conn, const char *format, ...) WA_PRINTF(2, 3);
void my_mysql_close(MYSQL *conn);  /* nothing without the client */

/* The client's own calls, null until a connect or query bound it. */
extern MYSQL_RES *(*my_mysql_store_result)(MYSQL *conn);
extern unsigned long long (*my_mysql_num_rows)(MYSQL_RES *result);
extern MYSQL_ROW (*my_mysql_fetch_row)(MYSQL_RES *result);
extern unsigned long long (*my_mysql_affected_rows)(MYSQL *conn);
extern void (*my_mysql_free_result)(MYSQL_RES *result);
extern void (*my_mysql_data_seek)(MYSQL_RES *result, unsigned long long row);
extern unsigned int (*my_mysql_errno)(MYSQL *conn);
extern const char *(*my_mysql_error)(MYSQL *conn);
extern int (*my_mysql_ping)(MYSQL *conn);
extern MYSQL_RES *(*my_mysql_use_result)(MYSQL *conn);
extern unsigned int (*my_mysql_num_fields)(MYSQL_RES *result);
extern MYSQL_FIELD *(*my_mysql_fetch_fields)(MYSQL_RES *result);

/* pthread_mutex_lock and pthread_mutex_unlock looked up in libpthread.so.0
 * at each call; nothing happens when it cannot be loaded. */
void my_pthread_lock(pthread_mutex_t *mutex);
void my_pthread_unlock(pthread_mutex_t *mutex);

/* ------------------------------------------------------------------------
 * XML documents, through the XML library bound at run time on first use
 * ("/usr/lib/libmxml.so.1", else the loader's "libmxml.so.1").  Every
 * wrapper passes its arguments to the library's function of that name and
 * returns its result; without the library they do nothing and return null
 * (0 for my_mxmlSaveFile).
 * ---------------------------------------------------------------------- */
typedef struct xml_node_s xml_node;  /* the library's node */
typedef int (*my_xml_load_cb)(xml_node *node);                 /* null: the library's default */
typedef const char *(*my_xml_save_cb)(xml_node *node, int where);
enum {
    MY_XML_NO_DESCEND = 0,       /* my_mxmlFindElement: the nodes after node, not its children */
    MY_XML_DESCEND = 1,          /* my_mxmlFindElement: search the whole subtree */
    MY_XML_ADD_BEFORE = 0,       /* my_mxmlAdd: where */
    MY_XML_ADD_AFTER = 1,
    MY_XML_WS_BEFORE_OPEN = 0,   /* save callback: where */
    MY_XML_WS_BEFORE_CLOSE = 2
};

xml_node *my_mxmlNewXML(const char *version);
xml_node *my_mxmlNewElement(xml_node *parent, const char *name);
void my_mxmlElementSetAttr(xml_node *node, const char *name, const char *value);
const char *my_mxmlElementGetAttr(xml_node *node, const char *name);
void my_mxmlElementDeleteAttr(xml_node *node, const char *name);
xml_node *my_mxmlFindElement(xml_node *node, xml_node *top, const char *name, const char *attr,
                             const char *value, int descend);
void my_mxmlAdd(xml_node *parent, int where, xml_node *child, xml_node *node);
void my_mxmlRemove(xml_node *node);
void my_mxmlDelete(xml_node *node);
xml_node *my_mxmlLoadFile(xml_node *top, FILE *fp, my_xml_load_cb callback);
xml_node *my_mxmlLoadString(xml_node *top, const char *text, my_xml_load_cb callback);
int my_mxmlSaveFile(xml_node *node, FILE *fp, my_xml_save_cb callback);
/* The record files' layout: "\n" before the opening and closing tags of
 * "_item" and "_program", "\n\t" before the opening tag of any other
 * element with an attribute value; null elsewhere. */
const char *whitespace_cb(xml_node *node, int where);

/* XML record files: the records are the "_item" elements, numbered by an
 * attribute "no" ("%u", document order) while the handle is open.  A
 * missing file opens as an empty version 1.0 document; a file the library
 * cannot read (or no library) gives an empty handle that is never written.
 * Values live in attributes: text between elements is not kept. */
record_file *my_XMLReadFile(int number, int mode, const char *tag);
/* Without the "no" attributes, laid out by whitespace_cb, replacing the file.
 * my_CloseFile writes a writable XML handle this way. */
void my_XMLWriteFile(record_file *h);
/* The value of the first attribute of the first element named tag at or
 * below node; null when there is none or it has no attribute. */
const char *my_XMLFindTagFirstValue(xml_node *node, const char *tag);

/* ------------------------------------------------------------------------
 * Logs.
 * ---------------------------------------------------------------------- */
/* The event record handed to the log writers, ten words as the appliance
 * passes it; texts may be null. */
typedef struct event_record {
    intptr_t unused;
    const char *program;
    const char *menu;
    const char *user;
    const char *address;
    intptr_t kind;                /* index into EVENT_LOG_TABLE */
    intptr_t type;
    const char *message;
    const char *detail1;
    const char *detail2;
} event_record;
extern const char *const EVENT_LOG_TABLE[2];
extern char menu_str[300][200];

/* Writers report nothing; a log that cannot be opened drops the event and its forwarding. */
/* The request's event (menu or menulv, REMOTE_USER, REMOTE_ADDR) to /var/log/eventlog. */
void my_CGI_log(const char *program, int type, const char *message, const char *detail1, const char *detail2);
/* The same to the boot event log, copied to flash before it returns. */
void my_CGI_bootlog(const char *program, int type, const char *message, const char *detail1, const char *detail2);
void my_eventlog(const event_record *record);  /* null does nothing */
void my_eventlog_args(const char *program, const char *user, const char *address, int type, const char *message,
                      const char *detail1, const char *detail2);
void my_bootlog_args(const char *program, const char *user, const char *address, int type, const char *message,
                     const char *detail1, const char *detail2);
void my_mail_notice_log(const char *subject, const char *message, const char *detail1);
/* To syslog (LOG_ALERT), then sync, only while the marker /var/debug.msg exists. */
void my_debug(const char *file, int line, const char *format, ...) WA_PRINTF(3, 4);

extern char _mydebug_buf[768];  /* six 128-byte marker names: .print .log .fp .fprm .syslog .level */
extern int _mydebug_f;          /* 1 standard output, 2 the .log file, 4 syslog */
extern int _mydebug_level;
extern int _mydebug_pid;
/* Resets the flags, then sets them and the level from the markers of the path's base name. */
void my_debug_init(const char *path);
/* Output only when a flag is set and mask & level is non-zero. */
void my_debug_printf(int mask, const char *function, int line, const char *format, ...) WA_PRINTF(4, 5);
void my_debug_set_level(int level);
void my_debug_set_pid(int pid);
void my_debug_usage(void);

/* A shell command line to the command daemon ("/var/run/runcommand"), a
 * text to the SQL query daemon ("/var/run/SQLQueryd.sock"): its bytes, then
 * the connection is closed.  0 when sent, -1 otherwise. */
int my_sendCmd2sock(const char *command);
int my_sqlquery_sock(const char *format, ...) WA_PRINTF(1, 2);
/* Sends a text to the management server (TCP port 1207 of an IPv4
 * address): 0 when sent, -1 otherwise; waits at most 100 ms to connect. */
int my_sqlquery_tcp(const char *address, const char *format, ...) WA_PRINTF(2, 3);
/* Forwards a log text to the central management server when one is set,
 * the forwarding filter lets it through and the product has HAVE_CMS. */
void my_cms_send_message(const char *text);

/* ------------------------------------------------------------------------
 * Configuration modules.
 * ---------------------------------------------------------------------- */
/* A module-specific slot: its argument list is the module's own (written
 * in the module's register file); callers cast it back to that type. */
typedef void (*module_op)(void);

/* The module operations table: the module's name, then 40 slots in order.
 * h is a handle from open, rec the module's record, n a 1-based line
 * number.  A null slot is an operation the module does not serve. */
typedef struct module_table {
    char name[32];
    void *(*clear)(void *rec);                                   /*  0 zero the record; returns rec */
    int (*add)(record_file *h, void *rec);                       /*  1 append rec as a line; 0 or -1 */
    int (*remove)(record_file *h, int n);                        /*  2 delete line n; 0 or -1 */
    int (*modify)(record_file *h, void *rec, int n);             /*  3 replace line n, append when absent; 0 or -1 */
    int (*change)(void *old_rec, void *new_rec);                 /*  4 1 when the system must be reconfigured */
    module_op interface_check;                                   /*  5 (h, interface record) -> 1 or 0 */
    int (*isTheSame)(record_file *h, void *rec, int n);          /*  6 1 when another line holds rec's name; -1 on null */
    void *(*set_default)(void *rec, const char *text);           /*  7 defaults into rec (text: sys_reboot only) */
    record_file *(*open)(void *selector, const char *tag, int mode); /* 8 null only for a null tag */
    int (*getline)(record_file *h, void *rec, uint32_t *line, int k); /* 9 next line into rec (k 1 restarts); 0 at end */
    void *(*getnum)(record_file *h, void *rec, int n);           /* 10 line n into rec; null when absent */
    void *(*parse)(char *line, void *rec);                       /* 11 one line into rec; returns rec */
    record_file *(*shift)(record_file *h, int from, int to);     /* 12 move line from to to; null when nothing moved */
    void (*close)(record_file **h);                              /* 13 close (write back when editing), clear *h */
    module_op command;                                           /* 14 apply rec to the running system */
    module_op discommand;                                        /* 15 remove rec's effect */
    module_op recommand;                                         /* 16 re-apply in place, or old -> new */
    module_op slot17;                                            /* 17 (multiple subnet) returns its argument */
    module_op slot18;                                            /* 18 (multiple subnet) returns its argument */
    module_op restorebyinterface;                                /* 19 re-apply records of an interface */
    module_op dynamicIPup;                                       /* 20 a dynamic WAN address came */
    module_op dynamicIPdown;                                     /* 21 a dynamic WAN address went */
    module_op slot22;                                            /* 22 empty in every module */
    module_op slot23;                                            /* 23 empty in every module */
    q_entry *(*language)(const char *code, q_entry **table);     /* 24 load texts; remember the table for print */
    int (*print)(const char *text);                              /* 25 write text, placeholders replaced */
    module_op slot26;                                            /* 26 empty in every module */
    module_op slot27;                                            /* 27 empty in every module */
    module_op cgiParam;                                          /* 28 fill rec from the form */
    module_op initial_system_cmd;                                /* 29 boot-time application of one record */
    void *handle;                                                /* 30 data: the open handle, kept by callers */
    module_op rewrite_secrets;                                   /* 31 rewrite the daemon's secrets file */
    void *(*xmlParam)(record_file *h, void *rec, const char *path); /* 32 rec from an XML file, then delete it */
    module_op slot33;                                            /* 33 (address) returns its argument */
    module_op slot34;                                            /* 34 (address) returns its argument */
    module_op slot35;                                            /* 35 (address) returns its argument */
    module_op slot36;                                            /* 36 empty in every module */
    module_op xmlConf;                                           /* 37 print all records as one _function element */
    module_op xmlEntry;                                          /* 38 rec from one _entry element */
    module_op import_xmlConf;                                    /* 39 store a _function element's entries */
} module_table;

/* The module directory: every module of the library by its name string,
 * with its register and unregister functions and the numbers (in
 * file_list) of its configuration files, so that a program can walk all
 * modules without naming them one by one. */
typedef struct module_entry {
    const char *name;                          /* the table's name, e.g. "route table" */
    module_table *(*register_fn)(void);
    void (*unregister_fn)(module_table *table);
    const int *files;                          /* file numbers, ended by -1 */
    size_t record_size;                        /* bytes of the module's record */
    /* One record as "name=value" pairs, a heap text; null for a module whose
     * records show through its XML export. */
    char *(*describe)(const void *rec);
    /* Applies every record at boot, the number applied; null where
     * initial_system_cmd(rec, n, 1) on each record of open's file does it. */
    int (*boot)(module_table *table);
    /* Stores a "_function" element's entries as the module's records (0, or
     * -1); null where import_xmlConf does, or else xmlParam entry by entry. */
    int (*import)(module_table *table, xml_node *function);
} module_entry;
/* The i-th module (0 first) in the order modules are applied at boot; null
 * past the last. */
const module_entry *module_directory(int i);
/* The entry of the module with that name string; null when there is none. */
const module_entry *module_find(const char *name);

/* The configuration as a whole, over every module of the directory.  A
 * whole configuration at every capacity is a few megabytes; a larger
 * document is refused. */
enum { CONFIG_LARGEST_DOCUMENT = 8 << 20 };
/* The number of lines in the module's files. */
unsigned int config_records(const module_entry *module);
/* Writes to standard output one XML document holding the "_function"
 * element of each module named (every module with an XML export and a way
 * back when names is null), as its xmlConf prints it with the module's name
 * as function value.  0, or -1 with the cause in why when a name is not a
 * module or has no export (nothing is written then). */
int config_export(const char *const *names, int count, char *why, size_t why_size);
/* Prints the records of the module, one per line as "name=value" pairs
 * read through its own parse: 0, or -1 when it is not a module or its
 * records cannot be shown. */
int config_show(const char *name);
/* Checks a whole document (length bytes) and, when every module it names
 * exists and every entry would import, stores each module's entries,
 * replacing its file.  Imports take turns: one waits up to 10 s for
 * another to finish.  0 with what was imported in report ("NAME: N
 * entries" lines); -1 with the cause, nothing changed, for a refused
 * document or when the wait runs out; -1 with those lines when a module
 * could not store every entry (its line ends "(not all stored)"). */
int config_import(const char *document, size_t length, char *report, size_t report_size);
/* The boot-time application: every record of every module, in the
 * directory's order.  The number of records applied. */
int config_apply(void);

/* The upgrade timing record: seconds since the epoch around the last flash write. */
typedef struct upgrade_info_record {
    uint32_t start;
    uint32_t end;
} upgrade_info_record;
module_table *upgrade_info_register(void);
void upgrade_info_unregister(module_table *table);
int get_last_upgrade_interval(void);                      /* end - start, 0 without a handle */
void update_upgrade_interval(upgrade_info_record *record);  /* stores it as line 1 */
char *ui_para_upgrading(upgrade_info_record *record);     /* sets start; heap progress-bar fragment */
char *ui_para_write_done(upgrade_info_record *record);    /* sets end, stores; heap fragment hiding the bar */

/* The reboot page.  Its record is one unsigned word; command's slot type is
 * sys_reboot_command_fn. */
typedef int (*sys_reboot_command_fn)(uint32_t *record, const char *command);
module_table *sys_reboot_register(void);
void sys_reboot_unregister(module_table *table);
int get_last_reboot_interval(void);  /* RI(105) */

/* ---- Interfaces: the interface module's record and shared memory ------- */

/* Change flags of an interface record: what differs from the applied one. */
enum {
    iTYPE_CHANGE = 1, iMODE_CHANGE = 2, cMODE_CHANGE = 4, VALUE_CHANGE = 16, MAC_CHANGE = 32,
    NAT_CHANGE = 64, DETECT_CHANGE = 128, BANDWIDTH_CHANGE = 256, SECURITY_CHANGE = 512,
};
/* Action flags: what applying the record must do. */
enum {
    IA_ADD = 1, IA_DEL = 2, IA_CONNECT = 4, IA_DISCONNECT = 8, IA_RENEW = 16, IA_RELEASE = 32,
    IA_BACKGROUND_EXEC = 64,
};

/* The WAN address mode's own values; one area holds the part of cmode. */
typedef struct interface_dynamic {  /* cmode 2, DHCP */
    char dynamicIP_hostname[244];
    char dynamicIP_domainname[324];
} interface_dynamic;
typedef struct interface_pptp {     /* cmode 4 */
    char pptp_username[324];
    char pptp_password[324];
    int32_t pptp_auto_or_fixed;
    char pptp_local_ip[16];
    char pptp_local_netmask[16];
    char pptp_local_dgw[16];
    char pptp_remote_ip[16];
    int32_t pptp_demand;
    int32_t pptp_idle;
    char pptp_connect_id[16];
    int32_t pptp_isreal;
    char pptp_hostname[244];
    char pptp_domainname[324];
    char pptp_dhcp_user[512];
    char pptp_dhcp_passwd[512];
} interface_pptp;
typedef struct interface_pppoe {    /* cmode 1 */
    char pppoe_username[324];
    char pppoe_password[324];
    int32_t pppoe_service;          /* fixed address from the provider */
    char pppoe_via_ipaddr[16];
    char pppoe_via_netmask[16];
    char pppoe_via_defgw[16];
    int32_t pppoe_demand;
    int32_t pppoe_idle;             /* minutes */
    int32_t pppoe_vlan;
} interface_pppoe;

/* One port's interface record: line k of the interface file is port k, and
 * record k - 1 of the shared interface memory.  Texts hold at most their
 * size - 1 characters; "^o^" is an unset text. */
typedef struct interface_record {
    int32_t ichange;                /* change flags, set by change */
    int32_t iaction;                /* action flags */
    int32_t summary;                /* port summary: 1 some LAN, 32 some transparent routing, 64 some transparent bridge */
    int32_t nameseq;                /* my_nameseq(iname) */
    int32_t port;                   /* 1 to SYSTEM_PORT_NUM */
    int32_t izone;                  /* nonzero: member of a bridged zone */
    int32_t itype;                  /* 0 not in use, 1 LAN, 2 WAN, 3 DMZ */
    int32_t imode;                  /* 1 NAT, 2 transparent bridge, 3 transparent routing */
    int32_t cmode;                  /* 1 PPPoE, 2 DHCP, 3 static, 4 PPTP */
    char dev[20];
    char iname[20];
    char ipaddr[16];
    char netmask[16];
    char gateway[16];
    char mac[18];
    int32_t ipv6cmode;
    char ipv6addr[40];
    char PrefixLength[4];
    char ipv6gw[40];
    int32_t nat_mode;
    char nat_ipaddr[16];
    int32_t detect_alive;
    int32_t detect_service;
    char detect_ipaddr_0[16];
    char detect_ipv6addr[40];
    char detect_domain[324];
    int32_t detect_frequency;
    char bandwidth_downstream[40];
    char bandwidth_upstream[40];
    char security[20];              /* decimal management-service bits */
    int32_t ibond;                  /* port of the bond master, 0 none */
    int32_t bmode;
    char arpip[16];
    int32_t speeder;
    union {
        interface_dynamic dynamic;
        interface_pptp pptp;
        interface_pppoe pppoe;
    } connection;
    int32_t anyiprouting;
    char detect_ipaddr[9][16];      /* detect_ipaddr_1 to detect_ipaddr_9 */
    int32_t detect_rule;
    char bandwidth_downthreshold[40];
    char bandwidth_upthreshold[40];
} interface_record;

/* A WAN port with a dynamic address got one (dynamicIPup) or lost it
 * (dynamicIPdown): the address first, as the appliance's address scripts
 * hand it, then the port's number and its interface name.  Every module's
 * dynamicIPup and dynamicIPdown slot is a wan_address_fn, returning the
 * event. */
typedef struct wan_address_event {
    char ipaddr[16];
    int32_t port;
    char iname[20];
} wan_address_event;
typedef wan_address_event *(*wan_address_fn)(wan_address_event *event);

/* The shared interface memory: SYSTEM_PORT_NUM records in port order, the
 * segment created zero-filled when missing.  0, or -1 when it cannot be
 * attached. */
int interface_init_shm(void);
/* The record of port (1 to SYSTEM_PORT_NUM) in the segment; null for port 0,
 * a port above SYSTEM_PORT_NUM or when the segment cannot be attached. */
interface_record *interface_read_shm(int port);
/* The port whose record carries the interface name; 0 when none does. */
int return_contrast_port_num(const char *iname);

/* Queries over the shared interface memory.  "In use" is a port whose
 * itype is not 0; a port is in a bond when its ibond names a port (1 to
 * SYSTEM_PORT_NUM), its own for the master. */
/* The name of the device that carries port: the master's iname for a port
 * in a bond, else the port's own; null when there is no such port. */
const char *getBondedName(int port);
/* The smallest number n >= 1 that no port in use of itype carries in its
 * name ("LAN2" carries 2): the number of the next interface of that type. */
int nextINUM(int itype);
/* 1 when a port other than port is in use in NAT mode with an address other
 * than "0.0.0.0"; else 0. */
int haveNatInterface(int port);
/* 1 when haveNatInterface(port) holds while some port is in
 * transparent-bridge mode; else 0. */
int haveNatInterfaceWithTransparentBridge(int port);
/* 1 when a port other than port (0: any) is in use with an address and
 * lets HTTP or HTTPS in (security bits 2 or 4): the administrator keeps a
 * way in; else 0. */
int haveAccessibleInterface(int port);
/* The zone of the interface named name, or 1 for one in transparent-bridge
 * mode without a zone; 0 otherwise and for an unknown name. */
int isTransparentBridge(const char *name);
/* The number of permitted management addresses (module "permit_ip"); 0
 * without that module. */
int permit_ip_num(void);
/* 1 when more than one WAN port is in use, so that the line load can be
 * spread (system information integer 107); else 0. */
int enableSmartUtil(void);
/* The device that carries the addresses and routes of the interface named
 * iname, into out (size bytes): the bridge "br" + zone for an interface in
 * transparent routing, in transparent bridge with a zone, a static WAN
 * while a port routes transparently (or bridges, the WAN having a zone),
 * a NAT LAN with a zone while a port bridges; else "brgre" for the
 * access-point controller's interface (system information text 41),
 * "brvpn" + port when character port (the first is port 1) of system
 * information text 58 is '1', else iname.  Every port counts here, in use
 * or not.  0, or -1 (out untouched) when no port carries iname. */
int interface_route_device(const char *iname, char *out, int size);

/* The interface module ("interface"): file 28, the wizard's copy 29 while
 * the form value "wizard" is "wizard".  Its own slots:
 *   5  interface_summary_fn: the port summary
 *   6  (isTheSame) holds interface_check_options_fn, reached through a
 *      cast to module_op
 *   14 interface_command_fn, 15 interface_command_fn (discommand),
 *   16 interface_recommand_fn, 20 wan_address_fn (the WAN named in the
 *      event: its translation and marks follow the event's address),
 *   28 void *cgiParam(interface_record *rec),
 *   29 interface_initial_fn,
 *   37 void xmlConf(const char *function_value),
 *   38 void *xmlEntry(xml_node *entry, void *rec),
 *   39 int import_xmlConf(xml_node *function_element): the k-th entry is
 *      port k, the entries beyond SYSTEM_PORT_NUM left out.
 * cgiParam and xmlEntry return rec, or null (nothing to store) when a
 * value is refused or the port is not one of 1 to SYSTEM_PORT_NUM.
 * A changed port is applied by discommand on the old record, then command
 * on the new one, both carrying the change flags change computed and the
 * action flags of what is wanted (IA_ADD/IA_DEL the addresses of LAN and
 * DMZ ports, IA_CONNECT/IA_DISCONNECT PPPoE, IA_RENEW/IA_RELEASE DHCP). */
module_table *interface_register(void);
void interface_unregister(module_table *table);
/* Sets rec's summary from all ports (rec for its own port, the others
 * from h): 1 some LAN, 32 some port in transparent routing, 64 some in
 * transparent bridge; returns it.  Ports not in use do not count. */
typedef int (*interface_summary_fn)(record_file *h, interface_record *rec);
/* Before new replaces old: 0 when it may, else the first reason: 6 another
 * port in use already has new's name, 7 new's subnet overlaps the subnet of
 * another NAT port, 8 a dynamic DNS account, 9 a subnet or VLAN, 10 a
 * static route, 11 a mapped address, 12 a virtual server, 13 an IPsec
 * tunnel, 14 a PPTP connection, 16 a virtual link, 17 the access-point
 * controller uses the interface.  Codes 8-17 are asked when the name or
 * type changes, 10 also when the address or mask changes. */
typedef int (*interface_check_options_fn)(interface_record *old_rec, interface_record *new_rec);
/* command (the apply with boot 1) and discommand; n is not used.  0, or -1
 * without a record.  discommand always removes the port's service rules,
 * which every apply with boot adds. */
typedef int (*interface_command_fn)(interface_record *rec, int n);
/* The apply sequence; boot also (re)builds the port's NAT, marks and
 * service rules.  A record without change and action flags is applied
 * whole, as at a restart. */
typedef int (*interface_initial_fn)(interface_record *rec, int n, int boot);
/* port 0: every port undone, then applied again, a bond's members with
 * their master (port k only: that one);
 * the old records from table's handle, the new ones from the word after it
 * (slot 31; the handle's when empty).  A null table only sets system
 * information integer 107 from enableSmartUtil on products with
 * HAVE_OSTRAL_SMARTUTIL.  0, or -1 without a handle. */
typedef int (*interface_recommand_fn)(module_table *table, int port);
/* Adds (on) or removes the record's addresses on device (the label
 * "device:iname"), with the network route; the access-point controller
 * moves an interface's addresses with it. */
void set_ip_addr_nat_mode(int on, const interface_record *rec, const char *device);
/* Adds (on) or removes the any-IP routing rules of the record's interface
 * (hosts of its LAN with addresses of other networks are answered and
 * routed) on device, or on the device that carries it when device is null. */
void set_anyiprouting(int on, const interface_record *rec, const char *device);
/* The transparent-routing rules, mode a bit set: 1 the ports in
 * transparent-routing mode, 2 the access-point interfaces ("W" and the
 * first three characters of text 41, e.g. WLAN+) while the controller's
 * interface routes transparently.  flush removes them, set adds them from
 * the shared interface memory. */
void flush_transparent_routing_rule(int mode);
void set_transparent_routing_rule(int mode);

/* ---- Static routes, multiple subnets, dynamic routing ------------------ */

/* A static route (module "route table", file 19, line "%s %s %s %s %d":
 * address, netmask, gateway, dev, ipv_mode).  Its own slots:
 *   5  route_check_fn, 14/15 route_command_fn (command, discommand),
 *   16/19/29 route_all_fn (every route deleted and added again),
 *   28 void *cgiParam(route_record *rec) -> rec, or null when a value is
 *      refused (an address not of the route's family, a mask for IPv4 or a
 *      prefix length 0-128 for IPv6, an interface name),
 *   37 void xmlConf(const char *function_value), 38 xmlEntry, 39 import. */
typedef struct route_record {
    int32_t q, r;           /* the page's request values; not stored */
    int32_t ipv_mode;       /* 0 IPv4, 1 IPv6 */
    char address[40];       /* destination */
    char netmask[16];       /* IPv4 mask, or the IPv6 prefix length */
    char gateway[40];
    char dev[84];           /* interface name, or a VLAN device ("eth1.5") */
} route_record;
module_table *route_table_register(void);
void route_table_unregister(module_table *table);
/* 1 when changing the interface from old to new would strand an IPv4
 * route (its gateway leaves the subnet, or the name changes); the routes
 * that stay are added again.  0 otherwise. */
typedef int (*route_check_fn)(const interface_record *old_rec, const interface_record *new_rec);
/* command and discommand of "route table" and "multiple subnet": one
 * record applied or removed; flag is not used.  0, or -1 without one. */
typedef int (*route_command_fn)(void *rec, int flag);
/* recommand, restorebyinterface and initial_system_cmd of "route table":
 * the argument is not used.  0, or -1 when the file cannot be read. */
typedef int (*route_all_fn)(void *unused);

/* An additional subnet on an interface (module "multiple subnet", vlan 0,
 * file 18) or a VLAN of it with its subnet (vlan 1-4094, file 226; open's
 * selector nonzero).  Its own slots: 5 (h, interface record) -> 1 or 0,
 * 14/15 route_command_fn, 16 (old, new) -> 0, 17/18 return their argument,
 * 19 (const char *iname) -> 0, 28 cgiParam(msubnet_record *) -> rec, or
 * null when a value is refused, 29
 * (rec, n, flag): command when flag is nonzero, 37-39 XML (both files in
 * one _function element). */
typedef struct msubnet_record {
    int32_t vlan;
    char iname[20];
    char ipaddr[16];
    char netmask[16];
} msubnet_record;
module_table *msubnet_register(void);
void msubnet_unregister(module_table *table);

/* Dynamic routing on an interface (module "dynamic route", file 21): RIP
 * version 1 or 2 (0 off), passive = only listen.  command and discommand
 * (rec, flag) rebuild /etc/rip.conf from every record, the interfaces,
 * their subnets and the static routes, and restart the routing daemon
 * (stopped when no record is on); 16 and 19 do the same; 28
 * cgiParam(rec) -> rec, or null when a value is refused; 29 (rec, n,
 * flag) when flag is nonzero. */
typedef struct dynamic_route_record {
    int32_t version;
    int32_t passive;
    char iname[20];
} dynamic_route_record;
module_table *dynamic_route_register(void);
void dynamic_route_unregister(module_table *table);

/* ---- Access-point controller ------------------------------------------- */

/* The controller's settings: the one line of
 * /etc/sysconfig/.firewall/ap_setting.conf.  "^o^" is an unset text; the
 * controller is active exactly while iname is set.  Applied settings are
 * mirrored into the system information block for the AP daemons: text 41
 * iname, 52 sync_ap_passwd, 54 the auto-restart summary ("%s %s %s %d %d %d"
 * of the three times, the week day, the month day and the mode); integer 79
 * enable_ap_balance, 91 enable_ap_auto_power, 92 enable_ap_connect_mail, 103
 * 1 while the controller serves an interface. */
typedef struct ap_setting_record {
    char iname[20];                     /* interface serving the APs, e.g. "LAN1" */
    int32_t enable_ap_balance;
    int32_t enable_ap_auto_power;
    int32_t enable_ap_connect_mail;
    char sync_ap_passwd[84];            /* password set on the APs */
    int32_t enable_ap_sys_management;   /* from the AP side: 1 ICMP, 2 HTTP, 4 HTTPS, 8 TELNET, 16 SSH */
    char autorestart_day_time[11];
    char autorestart_week_time[11];
    char autorestart_month_time[11];
    int32_t autorestart_week_day;
    int32_t autorestart_month_day;
    int32_t autorestart_en_autorestart;
    int32_t enable_realtime_traffic;
} ap_setting_record;

/* The "ap_setting" table.  open(selector, tag, mode): a non-null selector
 * is an ap_setting_record that receives line 1; an empty file then gets
 * the defaults as line 1, written at once whatever the mode.  modify also
 * mirrors the settings into the system information block and, when the
 * interface, password or auto-restart summary changed, writes every AP's
 * configuration file again. */
module_table *ap_setting_register(void);
void ap_setting_unregister(module_table *table);
/* command (new settings), discommand (old ones, then the transparent-routing
 * rules when either interface needs them), recommand (old to new; both
 * needed): apply, remove and switch the controller.  0. */
typedef int (*ap_setting_command_fn)(ap_setting_record *old_rec, ap_setting_record *new_rec);
/* initial_system_cmd: the whole application, with the boot-time set-up
 * (directories, bridge, base rules, AP status) when boot is nonzero.  0. */
typedef int (*ap_setting_initial_fn)(ap_setting_record *old_rec, ap_setting_record *new_rec, int boot);
/* cgiParam: rec from the form ("day_time", "week_time", "month_time",
 * "week", "month", "en_Autorestart" and "en_rt_traffic" for the restart and
 * real-time traffic fields, the keys for the others).  rec, or null when a
 * value is none its field may hold (the field keeps its default). */
typedef ap_setting_record *(*ap_setting_cgi_fn)(ap_setting_record *rec);
/* xmlConf prints the settings as one "_function" element (unset restart
 * times as empty values); xmlEntry fills rec from an "_entry" element (a
 * missing key leaves its field; null when a value is none its field may
 * hold); import stores the entries of a "_function" element as the
 * settings line. */
typedef void (*ap_setting_xmlconf_fn)(const char *function_value);
typedef ap_setting_record *(*ap_setting_xmlentry_fn)(xml_node *entry, ap_setting_record *rec);
typedef int (*ap_setting_import_fn)(xml_node *function);

/* After an interface came back: the controller's local and AP-side set-up
 * again (on nonzero) or removed.  0, or -1 when the file cannot be opened. */
int ap_setting_restorebyinterface(int on);
/* Adds ("A") or deletes ("D") the management-service rules of the AP-side
 * interfaces ("W" and the first three characters of iname, then "+").  0,
 * or -1 for another operation or null arguments. */
int setSecurity(const char *operation, const ap_setting_record *settings);
/* Deletes the real-time traffic marks of the AP tunnels, then appends them
 * when on is nonzero.  0. */
int setRealtimeTraffic(int on);
/* Removes uploaded access-point firmware under /var/ap/firmware: every
 * entry not beginning with '.' (age 0), or those at least age seconds old. */
int ap_setting_checkUploadFirmware(int age);

/* One uploaded AP firmware file: its modification time (UTC,
 * "%04d-%02d-%02d %02d:%02d:%02d") and its name (at most 255 characters)
 * with '"', '<', '>' as entities and blanks and line breaks as "&nbsp;". */
typedef struct ap_upload_file {
    char mtime[20];
    char name[1536];
} ap_upload_file;
/* The caller's list of ap_upload_file (heap entries), null until read. */
typedef struct ap_upload_holder {
    ll_list *files;
} ap_upload_holder;
/* Rebuilds the holder's list from /var/ap/firmware (made when missing),
 * dot files left out: the closedir result, or 0 when it cannot be opened. */
int read_upload_files(ap_upload_holder *holder);
void free_upload_files(ap_upload_holder *holder);  /* entries and list; files null */
/* read_upload_files, then the selection of the files as a heap page
 * fragment with language placeholders; with_buttons adds the apply button
 * (a submit only with privilege bit 2, else a privilege alert) and cancel.
 * Null when memory runs out. */
char *upload_files_ui(ap_upload_holder *holder, int privilege, int with_buttons);
/* Every record of the "route table" / "multiple subnet" module applied
 * (on nonzero) or removed through its table; 0, -1 when the module is
 * missing. */
int set_static_route(int on);
int set_multiple_subnet(int on);
/* vpn_ipsec_autokey_gre_bridge_port(operation, port) for every IPsec
 * tunnel bridged to a port; 0, -1 when the module is missing. */
int set_vpn_ipsec_autokey(const char *operation);
/* The 65 AP group names of the form ("group_%d", default "Group_%d") into
 * the MySQL table AP_INFO.ap_group; 0, or the failing connect or query
 * result. */
int save_ap_group_names(void);

/* One radio band of an AP (index 0: 2.4 GHz, 1: 5 GHz).  The 2.4 GHz band
 * has one power list and one channel list: element 0 of the arrays. */
enum { AP_PROFILE_SLOTS = 8, AP_5G_LISTS = 4, AP_LIST_SIZE = 256 };
typedef struct ap_channel_list {
    char toTxpower[AP_LIST_SIZE];
    char band[32];
    char list[AP_LIST_SIZE];
} ap_channel_list;
typedef struct ap_radio {
    int32_t ssid_max;
    int32_t pf_id[AP_PROFILE_SLOTS];    /* SSID profile number per slot, 0 none */
    char wireless_mode_list[AP_LIST_SIZE];
    int32_t wireless_mode;
    char data_rate[16];
    int32_t beacon_interval;
    int32_t dtim_interval;
    int32_t high_power;
    char high_txpower_list[AP_5G_LISTS][AP_LIST_SIZE];
    char txpower_list[AP_5G_LISTS][AP_LIST_SIZE];
    char transmit_power[16];
    int32_t spanning_tree;
    int32_t ack_timeout;
    int32_t slot_time;
    int32_t short_gi;
    int32_t igmp_snooping;
    int32_t greenfield;
    ap_channel_list channel_list[AP_5G_LISTS];
    char channel[32];
    char channel_width[32];
    char channel_ext_list[AP_LIST_SIZE];
    char channel_ext[16];
} ap_radio;

/* One managed AP: a row of ap_list in the SQLite database
 * /etc/sysconfig/.firewall/AP_INFO.  Coordinates are kept as the
 * database's texts. */
typedef struct ap_host_record {
    int32_t SN;                         /* AP number */
    uint32_t STime, ETime;              /* current connection, seconds since 1970 (0 none) */
    char Name[84];
    char MAC[18];                       /* upper case */
    char IP[40];
    int32_t PORT;
    char Username[84];
    char Passwd[84];
    int32_t Status;
    int32_t poe;
    ap_radio radio[2];
    char map_id[21];
    char map_axis_x[24];
    char map_axis_y[24];
    char gps_lat[24];
    char gps_lng[24];
    char gps_addr[256];
    char gps_id[21];
    int32_t action;
    int32_t Group;
    int32_t wired_id[AP_PROFILE_SLOTS]; /* wired profile number per port, 0 none */
    int32_t wired_max;
    char fw_version[64];
    char autorestart[80];               /* "^o^": the controller's summary */
} ap_host_record;

/* One line of /etc/sysconfig/.firewall/ap_group.conf: an AP group's
 * profile numbers (line n = group n, 64 groups). */
typedef struct ap_group_record {
    int32_t pf_id[AP_PROFILE_SLOTS];
    int32_t pf_id_5g[AP_PROFILE_SLOTS];
    int32_t wired_id[AP_PROFILE_SLOTS];
} ap_group_record;

/* The "ap_host" table: clear, set_default, cgiParam, command and discommand
 * take an ap_host_record; open, getnum and parse the group file and an
 * ap_group_record (an empty file gets 64 lines "0" at open). */
module_table *ap_host_register(void);
void ap_host_unregister(module_table *table);
/* command: the AP's tunnels and configuration file; discommand: both
 * removed.  0. */
typedef int (*ap_host_command_fn)(ap_host_record *ap);
/* cgiParam: the AP's editable fields from the form, its restart the
 * settings' summary of their restart fields when the form has
 * "en_Autorestart"; ap, or null when a value is none its field may hold. */
typedef ap_host_record *(*ap_host_cgi_fn)(ap_host_record *ap);

/* Line n (1-64) of the group file: the AP's three profile lists.  The
 * replacement's result, or -1. */
int ModifyAPGroupFile(const ap_host_record *ap, int n);
ap_group_record *GetAPGroupNumData(ap_group_record *group, int n);  /* group, or null */

/* The AP list: heap ap_host_record entries sorted by the form's "si" and
 * "sd"; an empty list when there are no APs, null when the database cannot
 * be read.  Walk it with AH_getlineMySQL (cursor null starts), free it with
 * AH_closeMySQL. */
ll_list *AH_getMySQL_list(void);
ap_host_record *AH_getlineMySQL(ll_list *list, ll_node **cursor);
void AH_closeMySQL(ll_list **list);
/* Stores the AP's editable fields (its position too when gps_id is set).
 * 0, or the database's error. */
int AH_modifyMySQL(const ap_host_record *ap);
/* Deletes the AP by MAC from the database and from list; 0 when exactly
 * one row went, else -1. */
int AH_deleteMySQL(ll_list *list, const ap_host_record *ap);
/* Removes what the client database /var/db/AP_CLIENT holds about the AP. */
int AH_deleteRelative(const char *mac);
/* Map placement: 0, or the database's error; -1 for a coordinate text that
 * is not a number or an old id that is not a map's (14 digits).  "^o^"
 * texts are stored empty. */
int AH_clearMap(const char *map_id);
int AH_updateMap(const char *mac, const char *map_id, double axis_x, double axis_y, double lat, double lng,
                 const char *gps_addr, const char *gps_id);
int AH_updateMapByMacMapGps(const char *mac, const char *lng, const char *lat, const char *gps_addr,
                            const char *gps_id);
int AH_updateMapByOrgMapId(const char *old_id, const char *new_id);
int ap_host_reset_status(void);  /* every AP offline, no address; 0 or the error */
/* Moves the stored connection times by offset seconds (a decimal, signed);
 * -1 for any other text. */
int adjust_time(const char *offset);
/* Stores (store nonzero) or deletes the app login of id in AP_USER. */
int app_login_sql(const char *id, int type, int language, int store);

/* What describes APs completely: the "ap_host", "ap_profile" and "ap_wired"
 * tables, whose handle words hold the loaded AP, SSID profile and wired
 * profile lists while in use.  The lists belong to whoever loaded them,
 * who frees them (AH_closeMySQL, APP_closeMySQL, APW_closeMySQL). */
typedef struct ap_host_options {
    module_table *host;
    module_table *profile;
    module_table *wired;
} ap_host_options;
int ap_host_options_register(ap_host_options *options);     /* 0, or -1 (nothing kept) */
void ap_host_options_unregister(ap_host_options *options);  /* the tables only; options zeroed */
/* Writes the AP list held in options->host's handle word as CSV to
 * "/var/tmp/AP_Profile_DATE.txt", its path into path (64 bytes): 1, or 0
 * when there is no list or the file cannot be made. */
int export_ap_list(ap_host_options *options, char *path);

/* The WTP configuration files under /etc/sysconfig/.firewall/AP_Host_Config:
 * every AP's (sn 0) or one AP's, the DEFAULT file, or both.  0, or -1 when
 * a list cannot be loaded. */
int ap_sync_host(int sn);
int ap_sync_default(void);
int ap_sync_configure(void);
/* Removes the AP's configuration file; the removal's result, or of the
 * existence test when there is none; -1 for a text that is not a MAC. */
int ap_del_host(const char *mac);

/* The controller side (settings null or without an interface: text 41). */
int setLocal(int on, const ap_setting_record *settings);
/* The AP side: GRE tunnels of every AP (sn 0) or one, from aps or, when
 * null, the database, each made by setRemoteCommand; an AP without an
 * address (empty or 0.0.0.0) gets none.  Without tunnels an AP's GRE is
 * dropped. */
int setRemote(int on, const ap_setting_record *settings, int sn, ll_list *aps);
/* One GRE tunnel device to the AP at address, joined to the bridge of the
 * controller's applied interface, text 41 (on), or deleted. */
int setRemoteCommand(int on, const char *device, const char *address, int key);
/* Tunnel device names ("W%s_P%d_AP%d", "W%s_P%d_AP%d_", "W%s_PW%d_AP%d" with
 * LAN or DMZ from the interface name), in M() buffers; null for an
 * interface not beginning with LAN or DMZ. */
const char *get24GWifiDevName(const char *iname, int position, int sn);
const char *get5GWifiDevName(const char *iname, int position, int sn);
const char *getWiredDevName(const char *iname, int port, int sn);

/* An SSID profile: a line of /etc/sysconfig/.firewall/ap_profile_opt.conf,
 * named by its number in the APs' slots. */
typedef struct ap_profile_record {
    int32_t id;
    char name[84];
    char ssid[33];
    int32_t ssid_visible;
    int32_t client_isolation;
    int32_t connection_enable;
    int32_t connection_limit;
    int32_t trafficMode;
    char authentication[32];
    int32_t encryption;
    char key_type[16];
    char key_size[16];
    int32_t key_index;
    char network_key[64];
    char WPA_mode[32];
    char cipher_type[32];
    int32_t update_sec;
    char passphrase[64];
    char WPA_radius_mode[32];
    char radius_cipher_type[32];
    int32_t radius_update_sec;
    char wpa_radius_ip[40];
    int32_t wpa_radius_port;
    char wpa_radius_secret[64];
    char wep_8021x_size[16];
    char wep_8021x_ip[40];
    int32_t wep_8021x_port;
    char wep_8021x_secret[64];
    int32_t vlan_id;
} ap_profile_record;
/* A wired-port profile: a line of /etc/sysconfig/.firewall/ap_wired_opt.conf. */
typedef struct ap_wired_record {
    int32_t id;
    char name[84];
    int32_t client_isolation;
    int32_t trafficMode;
    int32_t vlan_id;
} ap_wired_record;
/* The "ap_profile" and "ap_wired" tables.  add gives a record without a
 * number (0) the next free one.  command and discommand write again the
 * configuration files of the APs that use the profile, as does recommand
 * (old, new) of "ap_profile" for the new record ("ap_wired"'s returns its
 * argument); initial_system_cmd(rec, n, flag) is command when flag is set. */
module_table *ap_profile_register(void);
void ap_profile_unregister(module_table *table);
module_table *ap_wired_register(void);
void ap_wired_unregister(module_table *table);
typedef int (*ap_profile_command_fn)(void *rec);
typedef int (*ap_profile_recommand_fn)(void *old_rec, void *new_rec);
typedef int (*ap_profile_initial_fn)(void *rec, int n, int flag);
/* cgiParam: rec, or null when a value is none its field may hold. */
typedef void *(*ap_profile_cgi_fn)(void *rec);
/* The profiles as heap records in file order (empty when none, null when
 * memory runs out), and their release. */
ll_list *APP_getMySQL_list(void);
void APP_closeMySQL(ll_list **list);
ll_list *APW_getMySQL_list(void);
void APW_closeMySQL(ll_list **list);

/* A map on which APs are placed: a line of
 * /etc/sysconfig/.firewall/ap_emap.conf; its image is the file named by id
 * and ext under /etc/sysconfig/.firewall/emap. */
typedef struct ap_emap_record {
    char id[21];                        /* digits, from my_chainID */
    char name[84];
    char ext[8];                        /* image file extension, letters and digits, e.g. "png" */
} ap_emap_record;
/* The "ap_emap" table; remove also deletes the map's image files and takes
 * the APs off it. */
module_table *ap_emap_register(void);
void ap_emap_unregister(module_table *table);
/* cgiParam: a map without an id gets a new one; rec, or null when a value
 * is none its field may hold. */
typedef ap_emap_record *(*ap_emap_cgi_fn)(ap_emap_record *rec);
/* The id of the map named name, in an M() buffer; null when there is none. */
const char *ap_emap_get_id(const char *name);

/* ---- Address translation, management access, service objects ----------- */

/* The number of rules of table ("nat", "mangle", "filter") that jump to
 * chain, as the kernel's rule set reports it; 0 on a kernel without the
 * query.  Names are shorter than 32 characters. */
unsigned int chain_references(const char *table, const char *chain);
/* The chain's two 64-bit counters of the same kernel query: the one the
 * kernel reports second into first, the first into second; both 0 when
 * the kernel does not answer.  Returns 0. */
int chain_counters(const char *table, const char *chain, uint64_t *first, uint64_t *second);

/* The module-specific slots of this section's modules (rec is the module's
 * own record; a missing argument gives the neutral result). */
typedef int (*nat_interface_check_fn)(record_file *h, const interface_record *iface); /*  5: 1 in use, else 0 */
typedef int (*nat_command_fn)(void *rec);                    /* 14, 15 (and 16 of a group): 0, or -1 */
typedef int (*nat_recommand_fn)(void *new_rec, void *old_rec); /* 16: old's rules removed, new's added */
/* 19: re-applies the records on the interface (iface->iname); returns x. */
typedef void *(*nat_restorebyinterface_fn)(void *x, const interface_record *iface);
/* 20 (wan_address_fn): re-applies the records that follow the event's port. */
typedef void *(*nat_cgiParam_fn)(void *rec);                  /* 28: rec filled from the form */
typedef int (*nat_initial_system_cmd_fn)(void *rec, int n, int flag); /* 29 */
typedef void (*nat_xmlConf_fn)(const char *value, const char *extra); /* 37 */
typedef void *(*nat_xmlEntry_fn)(xml_node *entry, void *rec);  /* 38 (service) */
typedef int (*nat_import_xmlConf_fn)(xml_node *function);      /* 39: 0, or -1 */

/* Hosts and networks that may reach the management services ("permit_ip",
 * file 14).  Applying a record adds one rule per service and direction to
 * the ten permitip_ chains: a set bit of security (PING 1, HTTP 2, HTTPS 4,
 * TELNET 8, SSH 16) accepts, a clear bit drops. */
typedef struct permit_ip_record {
    char name[84];
    int32_t ipv;             /* 0 IPv4, 1 IPv6; other values apply nothing */
    char id[21];             /* my_chainID */
    char ipaddr[40];
    char netmask[16];        /* dotted mask or prefix length */
    int32_t security;
} permit_ip_record;
module_table *permit_ip_register(void);
void permit_ip_unregister(module_table *table);
/* 16: replaces rule number position of each of the ten chains; 0, or -1. */
typedef int (*permit_ip_recommand_fn)(void *rec, int position);
/* 38: an entry without "id" gets my_chainID(seed); ignored is not used. */
typedef void *(*permit_ip_xmlEntry_fn)(xml_node *entry, void *rec, void *ignored, time_t seed);

/* One-to-one address mappings ("mapped_ip", file 54): the public real_ip on
 * a WAN port and the internal mapped_ip, in both directions, through the
 * record's chains "mip_" id, "nat", "post" (nat) and "pre" (mangle) + that. */
typedef struct mapped_ip_record {
    char chain[31];
    int32_t refs;                 /* nat references of chain, filled by parse */
    int32_t refs_fixed;           /* non-zero: parse leaves refs alone */
    char name[84];
    char id[21];
    char mark[10];                /* id2mark(id) */
    char real_ip[16];
    char real_device_name[20];    /* WAN port, optionally ":" and a route mark */
    char mapped_ip[16];
    char mapped_device_name[20];
    int32_t iswan;                /* 1: real_ip follows the WAN port's dynamic address */
    int32_t priority;
} mapped_ip_record;
module_table *mapped_ip_register(void);
void mapped_ip_unregister(module_table *table);
/* Creates the record's four chains and hooks them into preNat_mapip,
 * postNat_mapip and preMangle_mapip; 0, or -1 without rec. */
int mapped_ip_add_chain(mapped_ip_record *rec);

/* A service object's protocols and destination ports, one entry each. */
typedef struct service_protocol {
    char protocol[8];             /* "tcp", "udp", "icmp", "all" or a protocol number */
    char first_port[8];
    char last_port[8];
    struct service_protocol *next;
} service_protocol;

/* Virtual servers ("virtual_ip", file 55): the public real_ip (and port) on
 * a WAN port forwarded to up to entry_num[69] internal servers for the
 * protocols of the service object service_chain. */
enum { VIRTUAL_IP_SERVERS = 32 };
typedef struct virtual_ip_record {
    char chain[31];               /* "vip_" id */
    int32_t refs;
    int32_t refs_fixed;
    char name[84];
    char id[21];
    char mark[10];
    char real_ip[16];
    char real_port[84];           /* "^o^": the whole address */
    char real_device_name[84];    /* WAN port, optionally ":" and a route mark */
    char service_chain[31];
    int32_t operating_mode;       /* 1 backup, 2 by source address, else none */
    char virtual_ip[VIRTUAL_IP_SERVERS][16]; /* empty entries "0.0.0.0" */
    char virtual_device_name[84];
    /* getProtocolInfoBychain(service_chain), filled and freed by the caller
     * before and after applying the record; clear and parse leave it alone. */
    service_protocol *service_info;
    int32_t iswan;
    int32_t health_check;
    int32_t priority;             /* position among the virtual servers of real_ip */
} virtual_ip_record;
module_table *virtual_ip_register(void);
void virtual_ip_unregister(module_table *table);
/* Rewrites lines of the older four-server layout in the current one, up to
 * the first line whose server list holds a comma; how many it rewrote. */
int virtual_rewrite_config(void);

/* Groups of virtual servers ("virtual_ip_group", file 56), one nat chain
 * "vipgroup_" id each.  members holds entry_num[17] characters: character
 * k - 1 is '1' when virtual server line k belongs to the group. */
enum { VIRTUAL_IP_GROUP_MEMBERS = 1024 };
typedef struct virtual_ip_group_record {
    char chain[31];
    int32_t refs;
    int32_t refs_fixed;
    char name[84];
    char id[21];
    char mark[10];
    char members[VIRTUAL_IP_GROUP_MEMBERS + 1];
    char iname[84];               /* the interface it is bound to, "^o^" none */
} virtual_ip_group_record;
module_table *virtual_ip_group_register(void);
void virtual_ip_group_unregister(module_table *table);

/* Service objects ("service"): custom services (open selector 1, file 38),
 * each up to eight protocols with a destination port range, and service
 * groups (selector 2, file 39) of up to sixteen custom services named by
 * their chains.  A record owns the chain "svc_" id (custom) or
 * "svcgroup_" id (group) in the mangle and nat tables, which raises the
 * policy bit 4 for the packets of its protocols. */
enum { SERVICE_CUSTOM = 1, SERVICE_GROUP = 2, SERVICE_PROTOCOLS = 8, SERVICE_MEMBERS = 16 };
typedef struct service_port_range {
    char protocol[8];             /* as service_protocol; "^o^" an unused entry */
    char first_port[8];
    char last_port[8];
} service_port_range;
typedef struct service_record {
    char chain[31];
    int32_t refs;                 /* nat references of chain, filled by parse */
    int32_t refs_fixed;
    char name[84];
    char id[21];
    int32_t kind;                 /* SERVICE_CUSTOM or SERVICE_GROUP */
    service_port_range ports[SERVICE_PROTOCOLS];     /* custom */
    char members[SERVICE_MEMBERS][31];               /* group: member chains, "^o^" unused */
} service_record;
module_table *service_register(void);
void service_unregister(module_table *table);
/* The protocols of the custom service or service group whose chain this
 * is (a group's are its members' in order), as a new list; null for an
 * unknown chain, one without protocols, or out of memory. */
service_protocol *getProtocolInfoBychain(const char *chain);
void freeProtocolInfo(service_protocol *list);  /* null is ignored */

/* ---- VPN and WAN services ----------------------------------------------- */

/* Module-specific slots of these modules take the arguments written next to
 * their table; "rec" is the module's record below.  Every slot returns its
 * neutral value (0, -1 or the unchanged argument) when an argument is
 * missing.  Values that reach a command line go through the shell quoting
 * of the library (a plain word stays as it is); values that would break a
 * secrets file's line, a file name or a double-quoted word are refused by
 * cgiParam and xmlParam, which then return null and leave the record as it
 * was. */

/* An IPsec tunnel with automatic keying.  Texts hold at most size - 1
 * characters; "^o^" is an unset text. */
typedef struct vpn_ipsec_autokey_record {
    char chain[31];                 /* "vpnAuto_" and the identifier */
    char name[84];                  /* also the IKE connection name */
    char id[21];                    /* my_chainID; the first up-down word, the name under /var/log/ipsec */
    int32_t wan_num;                /* port of the WAN interface that carries the tunnel */
    int32_t fixed_or_dynamic;       /* nonzero: the peer has a dynamic address */
    char remote[324];               /* peer address or host name */
    int32_t auth_method;            /* 0 pre-shared key, nonzero RSA certificates */
    char key[252];                  /* pre-shared key: no double quote, backslash or control character */
    char inside_pem_name[84];
    char outside_pem_name[84];
    char enc_alg_I[32];
    char hash_alg_I[32];
    int32_t group;                  /* IKE MODP group */
    int32_t lifetime_I;
    int32_t esp_or_ah;              /* nonzero: AH */
    char enc_alg_II[32];
    char hash_alg_II[32];
    int32_t lifetime_II;
    int32_t pfs;                    /* PFS MODP group, 0 off */
    char mode[32];                  /* beginning with "A": aggressive mode */
    char my_id[324];
    char peer_id[324];
    char local_ip[16];              /* GRE end points used instead of the networks */
    char remote_ip[16];
    char local_ip_mask[16];
    int32_t hand_connection;        /* nonzero: connected by hand only */
    int32_t dpd_delay;              /* 0: no dead-peer detection */
    int32_t dpd_timeout;
    char gredevid[88];              /* the tunnel's GRE device */
    int32_t xauth_enable;
    char xauth_auth_user[21];       /* the XAUTH server's authentication group */
    char xauth_username[84];        /* "^o^": this side is the XAUTH server; another name: a client */
    char xauth_password[84];
    int32_t en_l2tp_over_ipsec;     /* 1: L2TP over IPsec */
    int32_t greType;                /* stored and exported */
    int32_t greInterface;           /* nonzero: the port whose bridge "brvpn%d" the tunnel joins */
} vpn_ipsec_autokey_record;

/* The networks a tunnel carries, as a VPN trunk names them, and the second
 * word of the up-down call (the trunk's identifier). */
typedef struct ipsec_subnets {
    char local_ip[16];
    char local_mask[16];
    int32_t whole_network;          /* a dynamic peer may bring any private network */
    char remote_ip[16];
    char remote_mask[16];
    char updown[21];
} ipsec_subnets;

/* Table "vpn_ipsec_autokey", files 57 and the wizard's 65.  Slots:
 * interface_check(h, const interface_record *) -> 1 when a tunnel uses its port;
 * command(rec) chains, GRE bridge, IKE connection, initiation unless by hand;
 * discommand(rec) (vpn_ipsec_autokey_del_chain); recommand(new, old);
 * restorebyinterface(const interface_record *), dynamicIPup
 * (wan_address_fn): the tunnels of that port added and initiated again
 * (dynamicIPup rewrites the secrets first); dynamicIPdown (wan_address_fn):
 * they are disconnected;
 * cgiParam(rec) -> rec, or null when a value is refused;
 * initial_system_cmd(rec, n, flag); rewrite_secrets() (Rewrite_IpsecSecrets);
 * xmlConf(function value). */
module_table *vpn_ipsec_autokey_register(void);
void vpn_ipsec_autokey_unregister(module_table *table);
/* The eight marking chains "vpnAuto_ID" + CSRC, CDST, SSRC, SDST (mangle
 * and nat) and their condition rules. */
void *vpn_ipsec_autokey_add_chain(vpn_ipsec_autokey_record *rec);
/* Disconnects the tunnel, takes its GRE bridge down, flushes and deletes
 * its chains. */
void *vpn_ipsec_autokey_del_chain(vpn_ipsec_autokey_record *rec);
/* GRE bridging, operation "A" (add) or "D" (delete).  gre_bridge: the
 * tunnel's GRE device into or out of its port's bridge "brvpn%d";
 * set_gre_bridge: that for a bridged tunnel, then brvpn_global;
 * gre_bridge_port: every tunnel bridged on port, then brvpn_global (the
 * access-point controller calls it); brvpn_global: the nat rule that keeps
 * bridged traffic untranslated, present while some tunnel is bridged.
 * The counts are the tunnels handled. */
int vpn_ipsec_autokey_gre_bridge(const char *operation, const vpn_ipsec_autokey_record *rec);
int vpn_ipsec_autokey_set_gre_bridge(const char *operation, const vpn_ipsec_autokey_record *rec);
int vpn_ipsec_autokey_gre_bridge_port(const char *operation, int port);
int vpn_ipsec_autokey_brvpn_global(void);
/* /etc/ipsec.secrets (one line per tunnel: the PSK line for a tunnel with
 * a key, else the RSA line of its local certificate) and
 * /etc/ipsec.d/passwd (the members of each XAUTH server's group) from
 * every tunnel of the file that open(0) chooses; a tunnel or user whose
 * values would break its line is left out, and a file that cannot be
 * created only itself.  0, or -1 when the secrets file cannot be written. */
int Rewrite_IpsecSecrets(void);

/* The connection operations of the tunnels (IPsec, GRE, PPTP). */
/* The IKE connection of the tunnel: terminated, deleted and added again
 * with the networks of subnets, then the daemon listens.  Nothing when the
 * tunnel's port is not a WAN interface. */
void recommandIPSecAutokey(const vpn_ipsec_autokey_record *rec, const ipsec_subnets *subnets);
void connectIPSecAutokey(const vpn_ipsec_autokey_record *rec);
/* Terminates and deletes the connection, removes /var/log/ipsec/ID. */
void disconnectIPSecAutokey(const vpn_ipsec_autokey_record *rec);
/* The address the tunnels of a WAN port leave from, into out (16 bytes):
 * the interface record's address, else the live address of its device;
 * 0, or -1 with out "0.0.0.0". */
int getSrcIP(int port, char *out);
/* A tunnel's traffic no longer marked: the eight chains named chain (a
 * record's "vpnAuto_ID", "vpnClient_ID", "GRETunnel_ID" ...) followed by
 * CSRC, CDST, SSRC and SDST, in mangle and nat, are flushed in the tunnels'
 * order and kept, so that the policy rules jumping to them stay valid (a
 * page switching a tunnel off; its command fills them again).  0, or -1
 * for a missing chain or one that is no plain word. */
int del_neighborhood_iptables(const char *chain);

/* A dynamic DNS account. */
typedef struct ddns_record {
    int32_t provider;               /* row of ddns_providers */
    char username[244];
    char password[244];
    char host[324];
    char domain[324];               /* "<custom>": host is the full name */
    int32_t auto_wan;               /* 1: wan_info names a WAN port; 0: a fixed address */
    char wan_info[16];
    char status;                    /* the updater's status character, '0' when none */
} ddns_record;
/* The providers: display name, web site, country, update server, port,
 * update interval; 15 rows, then a row of empty texts and zeros. */
typedef struct ddns_provider {
    const char *name;
    const char *site;
    const char *country;
    const char *server;
    int32_t port;
    const char *interval;
} ddns_provider;
extern const ddns_provider ddns_providers[16];
/* Table "ddns", file 22.  interface_check(h, const interface_record *) ->
 * 0 when an account publishes that interface, -1 when none does; command,
 * restorebyinterface, dynamicIPup and initial_system_cmd(x, ...) start
 * /sbin/update_ddns -a in the background and return x; cgiParam(rec) -> rec,
 * or null when a value is refused; xmlConf(function value); xmlEntry(node,
 * rec) -> rec, or null when a value is refused; import_xmlConf(node) -> 0 or
 * -1 (a provider given by its display name or its number). */
module_table *ddns_register(void);
void ddns_unregister(module_table *table);
/* The name an account publishes, in a static buffer the next call reuses. */
char *ddns_compose_host_domain(const ddns_record *rec);

/* A PPTP server account. */
typedef struct vpn_pptp_server_record {
    int32_t type;
    char chain[31];                 /* "vpnServer_" and id */
    char user_name[84];
    char id[21];
    char password[84];
    int32_t ip_mode;                /* nonzero: fixed_ip */
    char fixed_ip[16];
    int32_t manual;
    char interface_id[21];          /* in the tunnel names "WAN%d_S%s_..." */
    int32_t refs;                   /* references of the four nat chains */
    int32_t line;                   /* xmlParam: the stored line with this id, 0 none */
    int32_t refs_fixed;             /* nonzero: parse leaves refs */
} vpn_pptp_server_record;
/* Table "vpn_pptp_server", files 60 and the wizard's 67.  isTheSame(h,
 * user name text, n); command(rec), discommand(rec), recommand(rec) -> rec;
 * restorebyinterface(const interface_record *), dynamicIPup (wan_address_fn):
 * the sessions on the WAN port of its name sequence end; initial_system_cmd(rec,
 * n, flag); rewrite_secrets() -> 0 or -1 (/etc/ppp/chap-secrets.Server);
 * xmlConf(function value). */
module_table *vpn_pptp_server_register(void);
void vpn_pptp_server_unregister(module_table *table);
/* Sessions recorded as /var/run files whose first number is a process id. */
void disconnectPPTPServerbyWAN(int wan);                    /* files "WAN%d_S..." */
void disconnectPPTPServer(const vpn_pptp_server_record *rec); /* files "WAN...", holding "_S<interface_id>_" */
int getPPTPPID(const char *name);   /* the first number of /var/run/NAME, 0 when unreadable */
void killPPTP_pidfile(const char *name);  /* "kill %d" when that number is at least 1 */

/* A GRE tunnel. */
typedef struct gre_tunnel_record {
    char name[84];
    char id[21];
    int32_t wan_num;
    char remote_host[512];
    char local_gre_interface[16];
    char local_gre_mask[16];
    char remote_gre_interface[16];
    char remote_gre_mask[16];
    char chain[31];                 /* "GRETunnel_" and id */
    char mark[10];                  /* hexadecimal key; the device "WAN%d_T%s" */
    int32_t duration;
    int32_t timeout;
    int32_t refs;
    int32_t refs_fixed;
} gre_tunnel_record;
/* Table "gre_tunnel", file 221.  isTheSame(h, name text, n); command(rec),
 * discommand(rec), recommand(new, old) -> the first; cgiParam(rec) -> rec,
 * or null when a value is refused (a number the form lacks is 0);
 * initial_system_cmd(rec, n, flag). */
module_table *gre_tunnel_register(void);
void gre_tunnel_unregister(module_table *table);
void connectGreTunnel(const gre_tunnel_record *rec);     /* /usr/sbin/gretunnel MARK */
void disconnectGreTunnel(const gre_tunnel_record *rec);  /* kills the id of /var/log/gretunnel/ID */

/* An outgoing PPTP connection. */
typedef struct vpn_pptp_client_record {
    char chain[31];                 /* "vpnClient_" and id */
    char user_name[84];
    char id[21];
    char password[84];
    char server[324];
    int32_t wan_num;
    int32_t encrypt;
    int32_t nat;                    /* nonzero: masquerade through the connection */
    int32_t manual;                 /* nonzero: connected by hand only */
    char interface_id[21];          /* the device "WAN%d_C%s" */
    int32_t refs;
    int32_t refs_fixed;
} vpn_pptp_client_record;
/* Table "vpn_pptp_client", files 61 and the wizard's 68.
 * interface_check(h, const interface_record *); command(rec),
 * discommand(rec), recommand(new, old) -> the first;
 * restorebyinterface(old, new interface records): when either is a WAN, the
 * connections of its port are disconnected and, while the new record is a
 * WAN, those not manual are started again; dynamicIPup (wan_address_fn)
 * disconnects the connections of its port; initial_system_cmd(rec, n, flag); rewrite_secrets() -> 0 or -1
 * (/etc/ppp/chap-secrets.Client); xmlConf(function value). */
module_table *vpn_pptp_client_register(void);
void vpn_pptp_client_unregister(module_table *table);
void connectPPTPClient(const vpn_pptp_client_record *rec);
void disconnectPPTPClient(const vpn_pptp_client_record *rec);  /* /var/run/WAN%d_C%s.pid */

/* A virtual WAN link. */
typedef struct virtual_link_record {
    char name[84];
    char wanport[20];               /* iname of the WAN port */
    char ipaddr[16];
    char netmask[16];
    char defgw[16];
    int32_t ipv6cmode;
    char ipv6addr[40];
    char prefix[4];
    char ipv6gw[40];
    int32_t detect_service;
    char detect_ipaddr[16];
    char detect_domain[324];
    int32_t detect_frequency;
    char bandwidth_down_stream[40];
    char bandwidth_up_stream[40];
    char mark[6];                   /* hexadecimal route mark; names the table and chains */
    char subnet[16];                /* form and XML only, not stored */
} virtual_link_record;
/* Table "virtual_link", file 159.  interface_check(h, const
 * interface_record *); command(rec) and initial_system_cmd(rec, n, flag)
 * (virtual_link_initial_system_cmd); discommand(rec, const interface_record
 * * or null) (virtual_link_discommand); recommand(rec, same);
 * restorebyinterface(previous, const interface_record *) -> the links
 * re-applied (previous is not used); cgiParam(rec) -> rec, or null when a
 * value is refused; xmlConf(function value); xmlEntry(node, rec) -> rec, or
 * null when a value is refused; import_xmlConf(node): a link gets the lowest free mark from "101" on. */
module_table *virtual_link_register(void);
void virtual_link_unregister(module_table *table);
void *virtual_link_initial_system_cmd(virtual_link_record *rec, int n, int flag);
void *virtual_link_discommand(virtual_link_record *rec, const interface_record *iface);
/* For a port of a bond (ibond nonzero): every link on the bond master's
 * port is taken off and applied again.  The links re-applied. */
int virtual_link_restorebyinterface4bonding(const interface_record *iface);
/* The marks of the links on the WAN port named wanport, blank-separated
 * into out (size bytes; marks that would not fit are left out).  How many
 * were written. */
int return_vlink_mark(const char *wanport, char *out, size_t size);

/* A user or group of the authenticated users (files 43 and 44, selector
 * 0 and 1).  A group record has its password and group unset. */
typedef struct auth_user_record {
    char name[84];                  /* letters, digits and "._-@" */
    char id[21];
    char password[84];              /* its crypt hash */
    char group[84];                 /* the user's group, "^o^" none */
} auth_user_record;
/* Table "auth_user".  remove of a group leaves its users without one;
 * command, discommand, recommand and initial_system_cmd(rec, ...) rewrite
 * the IPsec secrets (the XAUTH users) and return rec; cgiParam(rec) -> rec,
 * or null when a value is refused (the form's password is stored as its
 * hash: refused without the crypt library); xmlConf(function value) the
 * users; import_xmlConf(node) stores them and the groups they name. */
module_table *auth_user_register(void);
void auth_user_unregister(module_table *table);

/* A VPN trunk: a tunnel and the networks it carries. */
enum { TRUNK_IPSEC = 0, TRUNK_PPTP_CLIENT = 1, TRUNK_PPTP_SERVER = 2, TRUNK_GRE = 3 };
typedef struct vpn_trunk_record {
    char name[84];
    char id[21];
    int32_t type;                   /* TRUNK_... */
    char tunnel[84];                /* the tunnel's name, the client's interface_id or the account's user name */
    char local_ip[16];
    char local_mask[16];
    char remote_ip[16];
    char remote_mask[16];
    int32_t whole_network;
} vpn_trunk_record;
/* Table "vpn_trunk", files 58 and the wizard's 66.  isTheSame also refuses
 * a trunk group's name; command(rec): an IPsec tunnel's connection with
 * the trunk's networks (initiated unless by hand), a route of the remote
 * network to the device of a PPTP client, GRE tunnel or fixed-address
 * account; discommand(rec) undoes it; recommand(new, old);
 * cgiParam(rec) -> rec; initial_system_cmd(rec, n, flag); xmlConf. */
module_table *vpn_trunk_register(void);
void vpn_trunk_unregister(module_table *table);

/* A group of VPN trunks, applied and taken off together. */
enum { TRUNK_GROUP_MEMBERS = 8 };
typedef struct vpn_trunk_group_record {
    char name[84];
    char id[21];
    int32_t mode;                   /* 0 backup, 1 load sharing */
    char members[TRUNK_GROUP_MEMBERS][84];  /* trunk names, "^o^" unused */
} vpn_trunk_group_record;
/* Table "vpn_trunk_group", file 59.  command, discommand(rec) call the
 * member trunks' own; recommand(new, old); cgiParam(rec) -> rec
 * ("member_0" ...); initial_system_cmd(rec, n, flag); xmlConf. */
module_table *vpn_trunk_group_register(void);
void vpn_trunk_group_unregister(module_table *table);

/* An address object or address group: files 30 to 35 by selector 0 to 5
 * (LAN, LAN group, WAN, WAN group, DMZ, DMZ group), selector = 2 * zone +
 * is_group. */
enum { ADDRESS_GROUP_MEMBERS = 8 };
typedef struct address_record {
    char name[84];
    char id[21];
    char chain[31];                 /* "address_" and id */
    int32_t zone;                   /* 0 LAN, 1 WAN, 2 DMZ */
    int32_t is_group;
    char ipaddr[16];                /* an object's network */
    char netmask[16];
    char members[ADDRESS_GROUP_MEMBERS][84];  /* a group's object names, "^o^" unused */
    int32_t refs;                   /* references of the two mangle chains */
    int32_t refs_fixed;             /* nonzero: parse leaves refs */
} address_record;
/* Table "address".  remove of an object first takes its name out of the
 * groups of its zone; command(rec): the mangle chains C + "SRC" and C +
 * "DST" that mark an object's network, or jump to the chains of a group's
 * members; discommand(rec); recommand(rec) takes them off and applies them
 * again; cgiParam(rec) -> rec; initial_system_cmd(rec, n, flag);
 * xmlConf(function value) the records of all six files, each entry with
 * its "zone" and "is_group"; xmlEntry(node, rec); import_xmlConf(node)
 * replaces the six files with the entries, each in its own. */
module_table *address_register(void);
void address_unregister(module_table *table);

#pragma GCC visibility pop

#ifdef __cplusplus
}
#endif

#endif
