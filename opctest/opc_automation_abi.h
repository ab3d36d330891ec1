/*
 * The C entry point through which ravolin uses an OPC DA automation library.
 *
 * ravolin looks for the library libvopcdaauto.so first in the folder of the
 * ravolin program, then on the system's library path (LD_LIBRARY_PATH, the
 * linker cache, the standard folders); RAVOLIN_OPC_LIBRARY=PATH names one
 * file to use instead of both. The library exports one C function:
 *
 *     const ravolin_opc_api* ravolin_opc_automation(void);
 *
 * which returns a table of functions that lives as long as the library is
 * loaded. Each function mirrors one member of the automation objects OPCServer,
 * OPCGroups, OPCGroup and OPCItems. Conventions:
 *
 *  - Objects are opaque pointers. A function that returns an object returns a
 *    new reference that the caller gives back with the matching *_release;
 *    it returns NULL on failure.
 *  - Every other function returns 0 on success and a non-zero automation error
 *    number (an HRESULT) on failure.
 *  - On failure a function writes a UTF-8 description for the user into
 *    err->description (NUL-terminated, truncated to fit) and may set
 *    err->number; the caller zeroes *err before each call.
 *  - Arrays are indexed from 0 and hold num_items elements.
 *  - Strings are UTF-8; a string passed in is valid only during the call.
 *  - Dates are automation dates: days since 30 December 1899, the fraction
 *    being the time of day, local time.
 *  - The DataChange callback may be called on any thread. Once
 *    group_set_data_change returns, the previous callback is not running and
 *    will not be called again; releasing the group disconnects it as well.
 *    The arrays passed to the callback are valid only during the call.
 */
#ifndef RAVOLIN_OPC_AUTOMATION_ABI_H
#define RAVOLIN_OPC_AUTOMATION_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define RAVOLIN_OPC_ABI_VERSION 1
#define RAVOLIN_OPC_ENTRY_POINT "ravolin_opc_automation"
#define RAVOLIN_OPC_LIBRARY_NAME "libvopcdaauto.so"

enum ravolin_opc_value_type {
  RAVOLIN_OPC_EMPTY = 0,
  RAVOLIN_OPC_NULL = 1,
  RAVOLIN_OPC_BOOL = 2,   /* integer: 0 or 1 */
  RAVOLIN_OPC_INT = 3,    /* integer */
  RAVOLIN_OPC_DOUBLE = 4, /* number */
  RAVOLIN_OPC_STRING = 5, /* text */
  RAVOLIN_OPC_DATE = 6    /* number, an automation date */
};

typedef struct ravolin_opc_value {
  int32_t type; /* enum ravolin_opc_value_type */
  int64_t integer;
  double number;
  const char* text;
} ravolin_opc_value;

typedef struct ravolin_opc_error {
  int32_t number;
  char description[1024];
} ravolin_opc_error;

typedef struct ravolin_opc_server ravolin_opc_server;
typedef struct ravolin_opc_groups ravolin_opc_groups;
typedef struct ravolin_opc_group ravolin_opc_group;
typedef struct ravolin_opc_items ravolin_opc_items;

typedef void (*ravolin_opc_data_change_fn)(void* context, int32_t transaction_id,
                                           int32_t num_items, const int32_t* client_handles,
                                           const ravolin_opc_value* item_values,
                                           const int32_t* qualities, const double* time_stamps);

typedef struct ravolin_opc_api {
  uint32_t abi_version; /* RAVOLIN_OPC_ABI_VERSION */
  uint32_t size;        /* sizeof(ravolin_opc_api) as the library was built */

  /* OPCServer */
  ravolin_opc_server* (*server_create)(ravolin_opc_error* err);
  void (*server_release)(ravolin_opc_server* server);
  int32_t (*server_connect)(ravolin_opc_server* server, const char* prog_id, const char* node,
                            ravolin_opc_error* err);
  ravolin_opc_groups* (*server_groups)(ravolin_opc_server* server, ravolin_opc_error* err);
  int32_t (*server_last_update_time)(ravolin_opc_server* server, double* date,
                                     ravolin_opc_error* err);
  int32_t (*server_state)(ravolin_opc_server* server, int32_t* state, ravolin_opc_error* err);
  int32_t (*server_disconnect)(ravolin_opc_server* server, ravolin_opc_error* err);

  /* OPCGroups */
  void (*groups_release)(ravolin_opc_groups* groups);
  int32_t (*groups_set_default_active)(ravolin_opc_groups* groups, int32_t active,
                                       ravolin_opc_error* err);
  ravolin_opc_group* (*groups_add)(ravolin_opc_groups* groups, const char* name,
                                   ravolin_opc_error* err);
  int32_t (*groups_remove_all)(ravolin_opc_groups* groups, ravolin_opc_error* err);

  /* OPCGroup */
  void (*group_release)(ravolin_opc_group* group);
  ravolin_opc_items* (*group_items)(ravolin_opc_group* group, ravolin_opc_error* err);
  int32_t (*group_set_subscribed)(ravolin_opc_group* group, int32_t subscribed,
                                  ravolin_opc_error* err);
  /* errors: num_items elements, filled by the library. */
  int32_t (*group_sync_write)(ravolin_opc_group* group, int32_t num_items,
                              const int32_t* server_handles, const ravolin_opc_value* values,
                              int32_t* errors, ravolin_opc_error* err);
  /* callback NULL disconnects the event. */
  int32_t (*group_set_data_change)(ravolin_opc_group* group, ravolin_opc_data_change_fn callback,
                                   void* context, ravolin_opc_error* err);

  /* OPCItems */
  void (*items_release)(ravolin_opc_items* items);
  /* server_handles, errors: num_items elements, filled by the library.
     requested_types and access_paths may be NULL (left out). */
  int32_t (*items_add)(ravolin_opc_items* items, int32_t num_items, const char* const* item_ids,
                       const int32_t* client_handles, int32_t* server_handles, int32_t* errors,
                       const int16_t* requested_types, const char* const* access_paths,
                       ravolin_opc_error* err);
  int32_t (*items_count)(ravolin_opc_items* items, int32_t* count, ravolin_opc_error* err);
} ravolin_opc_api;

typedef const ravolin_opc_api* (*ravolin_opc_entry_fn)(void);

#ifdef __cplusplus
}
#endif

#endif
