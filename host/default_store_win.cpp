#include "host/default_store.h"

DefaultStore defaultStore() {
    return {};
}
