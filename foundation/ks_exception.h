// SPDX-License-Identifier: MIT
// The Broker's exceptions: every failure of its own code is one of these,
// thrown by value and caught by reference. Catch sites decide by class; the
// message serves diagnosis only.
#pragma once

#include "foundation/ks_string.h"

class KsException {
  public:
    explicit KsException(const char* text) : message_(text) {}
    explicit KsException(const KsString& message) : message_(message) {}
    KsException(const KsException& other) = default;
    KsException& operator=(const KsException& other) = default;
    virtual ~KsException();

    virtual const KsString& getMessage() const { return message_; }

  private:
    KsString message_;
};

// A failure of a message channel.
class CMessageException : public KsException {
  public:
    explicit CMessageException(const KsString& message) : KsException(message) {}
    explicit CMessageException(const char* text) : KsException(text) {}
    CMessageException(const CMessageException& other) = default;
};

// The channel's pipe went away or its wait was interrupted: the ordinary end of
// a connection. (The class name's spelling is the established one.)
class CInterruptedExeception : public CMessageException {
  public:
    CInterruptedExeception() : CMessageException("CInterruptedException") {}
    CInterruptedExeception(const CInterruptedExeception& other) = default;
};
