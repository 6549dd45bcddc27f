// SPDX-License-Identifier: MIT
#include "commands/recipient_splitter.h"

RecipientSplitter::RecipientSplitter(char* text, bool commaSeparates)
    : at_(text), comma_(commaSeparates), quotesOpenTo_(text), anglesOpenTo_(text) {}

bool RecipientSplitter::separator(char c) const {
    return c == ';' || c == '\n' || (comma_ && c == ',');
}

char* RecipientSplitter::closing(char* open) {
    const bool quote = *open == '"';
    char*& openTo = quote ? quotesOpenTo_ : anglesOpenTo_;
    if (open < openTo) {
        return nullptr;
    }
    const char close = quote ? '"' : '>';
    char* c = open + 1;
    for (; *c != '\0' && *c != '\n'; ++c) {
        if (*c == close) {
            return c;
        }
        if (quote && *c == '\\' && c[1] != '\0' && c[1] != '\n') {
            ++c;
        }
    }
    openTo = c;
    return nullptr;
}

char* RecipientSplitter::next() {
    if (at_ == nullptr) {
        return nullptr;
    }
    while (*at_ != '\0' && separator(*at_)) {
        ++at_;
    }
    if (*at_ == '\0') {
        at_ = nullptr;
        return nullptr;
    }
    char* const entry = at_;
    while (*at_ != '\0' && !separator(*at_)) {
        if (*at_ == '"' || *at_ == '<') {
            if (char* close = closing(at_)) {
                at_ = close;
            }
        }
        ++at_;
    }
    if (*at_ != '\0') {
        *at_++ = '\0';
    }
    return entry;
}

uint64_t RecipientSplitter::upperBound(const char* text, bool commaSeparates) {
    uint64_t count = 1;
    for (const char* c = text; *c != '\0'; ++c) {
        count += (*c == ';' || *c == '\n' || (commaSeparates && *c == ',')) ? 1 : 0;
    }
    return count;
}
