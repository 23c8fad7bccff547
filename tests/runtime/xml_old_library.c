/* The XML library as old as the appliance's: the twelve calls the library binds and nothing else, forwarded to
 * the machine's own build, whose newer node accessors stay hidden.  Built with OMIT_LAST, it lacks the last of
 * the twelve. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

typedef void node;
typedef int (*load_cb)(node *);
typedef const char *(*save_cb)(node *, int);

static void *call(const char *name) {
    static void *handle;
    if (!handle) handle = dlopen(MACHINE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    void *address = handle ? dlsym(handle, name) : NULL;
    if (!address) abort();
    return address;
}

/* One exported call that forwards its arguments; "return" or nothing before the forwarded call. */
#define FORWARD(result, ret, name, params, args) \
    __attribute__((visibility("default"))) result name params { ret((result(*) params)call(#name)) args; }

FORWARD(node *, return, mxmlNewXML, (const char *version), (version))
FORWARD(node *, return, mxmlNewElement, (node * parent, const char *name), (parent, name))
FORWARD(void, , mxmlElementSetAttr, (node * n, const char *name, const char *value), (n, name, value))
FORWARD(int, return, mxmlSaveFile, (node * n, FILE *fp, save_cb cb), (n, fp, cb))
FORWARD(void, , mxmlDelete, (node * n), (n))
FORWARD(node *, return, mxmlLoadFile, (node * top, FILE *fp, load_cb cb), (top, fp, cb))
FORWARD(node *, return, mxmlFindElement,
        (node * n, node *top, const char *name, const char *attr, const char *value, int descend),
        (n, top, name, attr, value, descend))
FORWARD(void, , mxmlAdd, (node * parent, int where, node *child, node *n), (parent, where, child, n))
FORWARD(void, , mxmlRemove, (node * n), (n))
FORWARD(node *, return, mxmlLoadString, (node * top, const char *text, load_cb cb), (top, text, cb))
FORWARD(const char *, return, mxmlElementGetAttr, (node * n, const char *name), (n, name))
#ifndef OMIT_LAST
FORWARD(void, , mxmlElementDeleteAttr, (node * n, const char *name), (n, name))
#endif
