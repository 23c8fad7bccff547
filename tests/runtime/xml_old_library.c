/* The XML library as old as the appliance's: the twelve calls the library
 * binds and nothing else, forwarded to the machine's own build, whose newer
 * node accessors stay hidden.  Built with OMIT_LAST, it lacks the last of
 * the twelve. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

typedef void node;

static void *machine_library(void) {
    static void *handle;
    if (!handle) handle = dlopen(MACHINE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!handle) abort();
    return handle;
}

static void *call(const char *name) {
    void *address = dlsym(machine_library(), name);
    if (!address) abort();
    return address;
}

#define EXPORT __attribute__((visibility("default")))

#define FORWARD(result, name, params, args)                                         \
    EXPORT result name params {                                                     \
        result(*f) params = (result(*) params)call(#name);                          \
        return f args;                                                              \
    }
#define FORWARD_VOID(name, params, args)                                            \
    EXPORT void name params {                                                       \
        void(*f) params = (void(*) params)call(#name);                              \
        f args;                                                                     \
    }

typedef int (*load_cb)(node *);
typedef const char *(*save_cb)(node *, int);

FORWARD(node *, mxmlNewXML, (const char *version), (version))
FORWARD(node *, mxmlNewElement, (node * parent, const char *name), (parent, name))
FORWARD_VOID(mxmlElementSetAttr, (node * n, const char *name, const char *value), (n, name, value))
FORWARD(int, mxmlSaveFile, (node * n, FILE *fp, save_cb cb), (n, fp, cb))
FORWARD_VOID(mxmlDelete, (node * n), (n))
FORWARD(node *, mxmlLoadFile, (node * top, FILE *fp, load_cb cb), (top, fp, cb))
FORWARD(node *, mxmlFindElement,
        (node * n, node *top, const char *name, const char *attr, const char *value, int descend),
        (n, top, name, attr, value, descend))
FORWARD_VOID(mxmlAdd, (node * parent, int where, node *child, node *n), (parent, where, child, n))
FORWARD_VOID(mxmlRemove, (node * n), (n))
FORWARD(node *, mxmlLoadString, (node * top, const char *text, load_cb cb), (top, text, cb))
FORWARD(const char *, mxmlElementGetAttr, (node * n, const char *name), (n, name))
#ifndef OMIT_LAST
FORWARD_VOID(mxmlElementDeleteAttr, (node * n, const char *name), (n, name))
#endif
