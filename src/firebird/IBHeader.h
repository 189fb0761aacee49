#pragma once
// The client library's published types and constants that this client uses (as in ibase.h
// of the Firebird client on 64-bit Linux). The library itself is loaded at run time.
#include <cstdint>

namespace qv {

using ISC_STATUS = intptr_t;
using ISC_LONG = int32_t;
using isc_svc_handle = unsigned int;  // FB_API_HANDLE on LP64
using isc_resv_handle = ISC_LONG;
using isc_db_handle = unsigned int;  // FB_API_HANDLE on LP64

constexpr int kStatusLength = 20;  // ISC_STATUS_LENGTH

// Service parameter block items.
constexpr uint8_t isc_spb_version = 2;
constexpr uint8_t isc_spb_current_version = 2;
constexpr uint8_t isc_spb_user_name = 28;
constexpr uint8_t isc_spb_password = 29;
constexpr uint8_t isc_spb_dbname = 106;
constexpr uint8_t isc_spb_verbose = 107;
constexpr uint8_t isc_spb_options = 108;
constexpr uint8_t isc_action_svc_backup = 1;
constexpr uint8_t isc_spb_bkp_file = 5;
constexpr uint8_t isc_spb_bkp_factor = 6;
constexpr uint8_t isc_spb_bkp_length = 7;
constexpr uint8_t isc_action_svc_restore = 2;

// Database parameter block items.
constexpr uint8_t isc_dpb_version1 = 1;
constexpr uint8_t isc_dpb_user_name = 28;
constexpr uint8_t isc_dpb_password = 29;

// Service query items.
constexpr uint8_t isc_info_end = 1;
constexpr uint8_t isc_info_truncated = 2;
constexpr uint8_t isc_info_data_not_ready = 4;
constexpr uint8_t isc_info_svc_line = 62;
constexpr uint8_t isc_info_svc_to_eof = 63;
constexpr uint8_t isc_info_svc_timeout = 64;
constexpr uint8_t isc_info_svc_running = 67;
constexpr uint8_t isc_info_svc_stdin = 78;

// Backup option bits.
constexpr uint32_t isc_spb_bkp_ignore_checksums = 0x01;
constexpr uint32_t isc_spb_bkp_ignore_limbo = 0x02;
constexpr uint32_t isc_spb_bkp_metadata_only = 0x04;
constexpr uint32_t isc_spb_bkp_no_garbage_collect = 0x08;
constexpr uint32_t isc_spb_bkp_old_descriptions = 0x10;
constexpr uint32_t isc_spb_bkp_non_transportable = 0x20;
constexpr uint32_t isc_spb_bkp_convert = 0x40;

// Restore option bits.
constexpr uint32_t isc_spb_res_metadata_only = 0x04;
constexpr uint32_t isc_spb_res_deactivate_idx = 0x0100;
constexpr uint32_t isc_spb_res_no_shadow = 0x0200;
constexpr uint32_t isc_spb_res_no_validity = 0x0400;
constexpr uint32_t isc_spb_res_one_at_a_time = 0x0800;
constexpr uint32_t isc_spb_res_replace = 0x1000;
constexpr uint32_t isc_spb_res_create = 0x2000;
constexpr uint32_t isc_spb_res_use_all_space = 0x4000;

}  // namespace qv
