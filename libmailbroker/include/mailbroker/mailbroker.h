/* SPDX-License-Identifier: MIT */
/*
 * libmailbroker: send the user's documents by mail through a Broker, from C.
 *
 * A host starts a Broker for itself (or reaches one that already serves a
 * pipe), then sends it the three commands: SendMail, OutlookGetAddrs and
 * AutoCompleteFileName. Each answer comes back as a result object that the
 * caller frees.
 *
 *     mailbroker *mb = mailbroker_new();
 *     mailbroker_result *r = NULL;
 *     const char *files[] = {"/home/ann/report.pdf", NULL};
 *     if (mailbroker_start(mb, NULL) == MAILBROKER_OK &&
 *         mailbroker_send_mail(mb, NULL, NULL, NULL, "Report", NULL, files, 0, 0, &r) ==
 *             MAILBROKER_OK) {
 *         printf("%s\n", mailbroker_result_status_name(r));
 *     }
 *     mailbroker_result_free(r);
 *     mailbroker_close(mb);
 *
 * Threads: calls on one handle are serialised inside the library (a mutex),
 * so a second thread waits while the first one's request runs, which may be
 * as long as a person takes in a dialog. Different handles are independent
 * and may be used from different threads at the same time. A result object
 * is immutable and may be read from any thread. mailbroker_close must not
 * run while another call on the same handle does.
 *
 * Errors: every function that can fail returns a mailbroker_error; a text
 * saying what went wrong is kept per handle and per thread
 * (mailbroker_last_error_message). Nothing is thrown and nothing aborts: bad
 * arguments, a Broker that cannot be started, a broken connection all come
 * back as codes.
 *
 * Text is UTF-8 everywhere, in arguments and in results.
 *
 * ABI: the types are opaque and only pointers to them cross the interface;
 * the library's soname is libmailbroker.so.1 and its symbols carry the
 * version node MAILBROKER_1.
 */
#ifndef MAILBROKER_MAILBROKER_H
#define MAILBROKER_MAILBROKER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define MAILBROKER_API __attribute__((visibility("default")))
#else
#define MAILBROKER_API
#endif

#define MAILBROKER_VERSION_MAJOR 1
#define MAILBROKER_VERSION_MINOR 0
#define MAILBROKER_VERSION_PATCH 0

/* A connection to one Broker. Created by mailbroker_new, freed by mailbroker_close. */
typedef struct mailbroker mailbroker;

/* The Broker's answer to one command. Freed by mailbroker_result_free. */
typedef struct mailbroker_result mailbroker_result;

/* What went wrong with a call, as opposed to what the Broker answered (a
 * command that ran and failed, such as a user who cancelled, is MAILBROKER_OK
 * with the MAPI status in the result). Values are fixed for the life of the ABI. */
typedef enum mailbroker_error {
    MAILBROKER_OK = 0,
    MAILBROKER_E_INVALID_ARGUMENT = 1, /* a NULL handle or out-pointer, text that is not
                                          UTF-8 or holds a control character the request
                                          cannot carry, an empty entry in a list, an
                                          attachment path holding ';' */
    MAILBROKER_E_STATE = 2,            /* not started or connected yet, or already so */
    MAILBROKER_E_START_FAILED = 3,     /* the Broker could not be run, or ended before serving */
    MAILBROKER_E_NOT_FOUND = 4,        /* no such pipe within the time allowed */
    MAILBROKER_E_ACCESS_DENIED = 5,    /* the pipe refuses this user */
    MAILBROKER_E_UNSAFE_FOLDER = 6,    /* the folder of the pipes is not private to this user */
    MAILBROKER_E_TIMEOUT = 7,          /* no answer within the handle's time-out */
    MAILBROKER_E_DISCONNECTED = 8,     /* the Broker closed the connection */
    MAILBROKER_E_PROTOCOL = 9,         /* the answer does not follow the wire contract */
    MAILBROKER_E_TOO_LARGE = 10,       /* the request would exceed what a Broker takes (64 MiB) */
    MAILBROKER_E_NO_MEMORY = 11,
    MAILBROKER_E_IO = 12,              /* any other failure of the system */
    MAILBROKER_E_INTERNAL = 13         /* a fault inside the library; the message says which */
} mailbroker_error;

/* The recipient wells of a message and of the address book. */
typedef enum mailbroker_well {
    MAILBROKER_TO = 0,
    MAILBROKER_CC = 1,
    MAILBROKER_BCC = 2
} mailbroker_well;

/* Flags of mailbroker_send_mail. */
#define MAILBROKER_SEND_SILENT 0x1u /* submit at once; without it the compose window opens */

/* Flags of mailbroker_get_addrs. */
#define MAILBROKER_SHOW_ADDRESS_BOOK 0x1u /* let the user pick in the address book dialog */

/* "1.0.0": the version of the library actually loaded. */
MAILBROKER_API const char *mailbroker_version(void);

/* "MAILBROKER_E_TIMEOUT" for MAILBROKER_E_TIMEOUT; "MAILBROKER_E_UNKNOWN" for a value
 * that is not a mailbroker_error. Never NULL. */
MAILBROKER_API const char *mailbroker_error_name(mailbroker_error code);

/* The MAPI name of a status: "SUCCESS_SUCCESS" for 0, "MAPI_E_USER_CANCEL",
 * "MAPI_E_NOT_FOUND"; NULL for a code without a name. Static strings. */
MAILBROKER_API const char *mailbroker_status_name(int32_t status);

/* A new handle, neither started nor connected; NULL only when memory ran out. */
MAILBROKER_API mailbroker *mailbroker_new(void);

/* Starts a Broker for the calling process ("--ipc=NAME --proc=PID", with a
 * fresh pipe name) and connects to it. The Broker is broker_path when not
 * NULL, else the environment variable MAILBROKER_BROKER when set and not
 * empty, else the installed one (<prefix>/lib/mailbroker/mailbroker). The
 * Broker inherits the caller's environment. It ends when the calling process
 * ends, or at mailbroker_close. */
MAILBROKER_API mailbroker_error mailbroker_start(mailbroker *mb, const char *broker_path);

/* Connects to a Broker that already serves the pipe pipe_name (UTF-8),
 * waiting up to 5 seconds for it to appear. mailbroker_close leaves that
 * Broker running. */
MAILBROKER_API mailbroker_error mailbroker_connect(mailbroker *mb, const char *pipe_name);

/* The pipe name of a started or connected handle, else NULL. Valid until mailbroker_close. */
MAILBROKER_API const char *mailbroker_pipe_name(mailbroker *mb);

/* How long each later request on mb waits for its answer, in milliseconds;
 * 0 (the default) waits as long as it takes. A request may show a dialog (a
 * SendMail that is not silent opens the compose window, OutlookGetAddrs may
 * show the address book, and any logon may ask for a profile), and a silent
 * SendMail delivers before it answers, so no limit is the safe default. After
 * a time-out the next request reconnects to the same Broker. */
MAILBROKER_API mailbroker_error mailbroker_set_timeout(mailbroker *mb, uint32_t milliseconds);

/* The error of the calling thread's last call on mb, MAILBROKER_OK when it succeeded. */
MAILBROKER_API mailbroker_error mailbroker_last_error(mailbroker *mb);

/* One line saying why the calling thread's last call on mb failed, "" when it
 * succeeded. Valid until that thread's next call on mb, or mailbroker_close.
 * For mb NULL, a static text saying so. Never NULL. */
MAILBROKER_API const char *mailbroker_last_error_message(mailbroker *mb);

/* Closes the connection and, for a handle from mailbroker_start, ends its
 * Broker; frees the handle. NULL is allowed. */
MAILBROKER_API void mailbroker_close(mailbroker *mb);

/* SendMail: composes a message in the default profile. to, cc, bcc and
 * attachments are NULL-terminated arrays of UTF-8 strings, or NULL for none;
 * each recipient is a name or an address that the Broker resolves against
 * the address book, each attachment a path to a file (relative paths are
 * taken from the current directory; a path holding ';' cannot be sent).
 * subject and body may be NULL. flags: MAILBROKER_SEND_SILENT submits the
 * message at once, without it the compose window opens. parent_window is the
 * window that owns any dialog (an X11 window id), 0 for none. On
 * MAILBROKER_OK, *result holds the answer (mailbroker_result_succeeded says
 * whether a message was composed); on any error *result is NULL. */
MAILBROKER_API mailbroker_error mailbroker_send_mail(mailbroker *mb, const char *const *to,
                                                     const char *const *cc,
                                                     const char *const *bcc, const char *subject,
                                                     const char *body,
                                                     const char *const *attachments,
                                                     uint32_t flags, uint32_t parent_window,
                                                     mailbroker_result **result);

/* OutlookGetAddrs: resolves recipient texts against the address book and
 * answers SMTP addresses, distribution lists expanded. to, cc and bcc are
 * NULL-terminated arrays, or NULL to leave the well out; an empty array (only
 * the NULL) offers the dialog an empty well. With MAILBROKER_SHOW_ADDRESS_BOOK
 * and no well given, the dialog gets an empty To well; without it, at least
 * one well must be given. caption (NULL: the Broker's own) titles the dialog;
 * parent_window as for mailbroker_send_mail, at most 2147483647. Read the
 * answer with mailbroker_result_address_count and mailbroker_result_address. */
MAILBROKER_API mailbroker_error mailbroker_get_addrs(mailbroker *mb, const char *const *to,
                                                     const char *const *cc,
                                                     const char *const *bcc, uint32_t flags,
                                                     const char *caption,
                                                     uint32_t parent_window,
                                                     mailbroker_result **result);

/* AutoCompleteFileName: the default profile's display name, read with
 * mailbroker_result_display_name. */
MAILBROKER_API mailbroker_error mailbroker_auto_complete_file_name(mailbroker *mb,
                                                                   mailbroker_result **result);

/* The command answered: "SendMail", "OutlookGetAddrs" or "AutoCompleteFileName". */
MAILBROKER_API const char *mailbroker_result_command(const mailbroker_result *result);

/* The MAPI status of the answer as a signed 32-bit code: 0 success, negative
 * failure (MAPI_E_USER_CANCEL is -2147221229). */
MAILBROKER_API int32_t mailbroker_result_status(const mailbroker_result *result);

/* The status's MAPI name ("SUCCESS_SUCCESS", "MAPI_E_USER_CANCEL"), or
 * "0x8004xxxx" for a code without one. Never NULL for a result. */
MAILBROKER_API const char *mailbroker_result_status_name(const mailbroker_result *result);

/* 1 when the command did what it was asked (the status is not negative and,
 * for SendMail, a message was composed), else 0. */
MAILBROKER_API int32_t mailbroker_result_succeeded(const mailbroker_result *result);

/* SendMail's result field: 1 when a message was composed, 0 when not; -1 for
 * the other commands, which have none. */
MAILBROKER_API int32_t mailbroker_result_result(const mailbroker_result *result);

/* Why the command failed, in one line ("SendMail failed: MAPI_E_NOT_FOUND
 * (0x8004010F): attachment /x/y.pdf cannot be read"); "" when it succeeded. */
MAILBROKER_API const char *mailbroker_result_message(const mailbroker_result *result);

/* OutlookGetAddrs: the number of SMTP addresses answered for a well, and
 * each of them (index below the count, else NULL). */
MAILBROKER_API size_t mailbroker_result_address_count(const mailbroker_result *result,
                                                      mailbroker_well well);
MAILBROKER_API const char *mailbroker_result_address(const mailbroker_result *result,
                                                     mailbroker_well well, size_t index);

/* AutoCompleteFileName: the default profile's display name ("" when the
 * Broker found none); NULL for the other commands. */
MAILBROKER_API const char *mailbroker_result_display_name(const mailbroker_result *result);

/* SendMail whose attachment the Broker could not read (MAPI_E_NOT_FOUND or
 * MAPI_E_NO_ACCESS): the paths concerned, as sent (absolute). Count 0 otherwise. */
MAILBROKER_API size_t mailbroker_result_failed_attachment_count(const mailbroker_result *result);
MAILBROKER_API const char *mailbroker_result_failed_attachment(const mailbroker_result *result,
                                                               size_t index);

/* Any field of the answer by its key ("error", "result", "to", "displayName"),
 * as the Broker wrote it, decoded; NULL when the answer has no such field. */
MAILBROKER_API const char *mailbroker_result_value(const mailbroker_result *result,
                                                   const char *key);

/* Frees a result; NULL is allowed. */
MAILBROKER_API void mailbroker_result_free(mailbroker_result *result);

#ifdef __cplusplus
}
#endif

#endif /* MAILBROKER_MAILBROKER_H */
