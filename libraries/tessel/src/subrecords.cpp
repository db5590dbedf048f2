#include "tessel/subrecords.h"

namespace tessel {

const cRecordTable& LeaseRows() {
    using E = LeaseElement;
    static const Table<E> rows{{
        Field(&E::key, "IP").AnyText(),
        Field(&leaseEntry::mac, "Mac").Check(CheckMacAddr),
        Field(&leaseEntry::hostname, "Hostname").Check(CheckHostname).Masked(),
        Field(&leaseEntry::status, "Status").Range(1, 3),
    }};
    return rows;
}

const cRecordTable& MacRows() {
    static const Table<MacElement> rows{{Field(&MacElement::value, "Mac").Check(CheckMacAddr)}};
    return rows;
}

}  // namespace tessel
