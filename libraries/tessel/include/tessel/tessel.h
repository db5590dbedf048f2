// Umbrella header of the tessel library.
#pragma once

#include "kora/kora.h"
#include "tessel/access.h"
#include "tessel/checks.h"
#include "tessel/collection.h"
#include "tessel/collections_access.h"
#include "tessel/collections_log.h"
#include "tessel/item.h"
#include "tessel/items_device.h"
#include "tessel/items_log.h"
#include "tessel/items_system.h"
#include "tessel/jsonfactory.h"
#include "tessel/messages.h"
#include "tessel/messages_admin.h"
#include "tessel/payload_fields.h"
#include "tessel/record.h"
#include "tessel/registration.h"
