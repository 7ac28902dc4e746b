// Locating the two built-in loader payloads.
#include "payloads.h"

#include "resources/loader_payloads.h"

Payloads loadPayloads() {
    return Payloads{Payload{kBootApplication, kBootApplicationSize},
                    Payload{kServiceApplication, kServiceApplicationSize}};
}
