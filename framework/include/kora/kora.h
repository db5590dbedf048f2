// Umbrella header of the kora framework.
#pragma once

#include "kora/channel.h"
#include "kora/factory.h"
#include "kora/file.h"
#include "kora/hash.h"
#include "kora/helper.h"
#include "kora/msg.h"
#include "kora/serialize.h"
#include "kora/service.h"
#include "kora/serviceclient.h"
#include "kora/trace.h"
#include "kora/types.h"
