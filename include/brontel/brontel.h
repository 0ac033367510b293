// The whole public interface of the Brontel synchronization library.
#pragma once

#include "brontel/platform/archive.h"
#include "brontel/platform/archive_file.h"
#include "brontel/platform/debug_sink.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"
#include "brontel/platform/precondition.h"
#include "brontel/platform/serializable.h"
#include "brontel/platform/tree_view.h"

#include "brontel/core/core_classes.h"
#include "brontel/core/enumerations.h"
#include "brontel/core/handle.h"
#include "brontel/core/hasher.h"
#include "brontel/core/log_able.h"
#include "brontel/core/log_file.h"
#include "brontel/core/log_list.h"
#include "brontel/core/log_node.h"
#include "brontel/core/log_string.h"
#include "brontel/core/packed_date.h"
#include "brontel/core/record_identification.h"
#include "brontel/core/record_status.h"
#include "brontel/core/uid128.h"
#include "brontel/core/versioning.h"

#include "brontel/host/host_classes.h"
#include "brontel/host/web_content.h"

#include "brontel/api/brontel_api.h"
#include "brontel/api/stored_file_view.h"
