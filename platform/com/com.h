// Everything of the COM and OLE Automation runtime in one include, as
// <windows.h> + <ole2.h> + <atlbase.h> give it on Windows. Each part has its
// own header for code that needs less.
#pragma once

#include "platform/com/activation.h"
#include "platform/com/apartment.h"
#include "platform/com/atl_bstr.h"
#include "platform/com/atl_ptr.h"
#include "platform/com/atl_variant.h"
#include "platform/com/bstr.h"
#include "platform/com/connection_points.h"
#include "platform/com/dispatch.h"
#include "platform/com/enumerators.h"
#include "platform/com/error_info.h"
#include "platform/com/git.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/memory.h"
#include "platform/com/ole_site.h"
#include "platform/com/registrar.h"
#include "platform/com/safearray.h"
#include "platform/com/stream.h"
#include "platform/com/typeinfo.h"
#include "platform/com/typelib_description.h"
#include "platform/com/typelib_registration.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
