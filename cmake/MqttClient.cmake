# SPDX-License-Identifier: Apache-2.0
# The MQTT client library, libmosquitto, as one target: kestrune_mqtt_client.
# Linking to it gives <mosquitto.h> and the library; it carries
# KESTRUNE_MQTT_TLS=1 when the library speaks TLS (mqtts://).
#
# On Linux it is Debian's libmosquitto (pkg-config), built with OpenSSL. For
# Windows, Debian has no MinGW build, so the client library is built here,
# statically, from Debian's source package (cmake/fetch-debian-source.sh mosquitto
# fetches it, pinned, with Debian's patches): the library only, without TLS
# (there is no OpenSSL for the cross build), and without its threading, as
# the program drives the client from one thread with mosquitto_loop.
#
# Where the library cannot be had, the target is left out and
# KESTRUNE_MQTT_CLIENT_FOUND is OFF.
set(KESTRUNE_MQTT_CLIENT_FOUND OFF)

if(WIN32)
  set(KESTRUNE_MOSQUITTO_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/deps/mosquitto-2.0.11" CACHE PATH
      "libmosquitto's source, for the Windows build of the MQTT client")
  if(NOT EXISTS "${KESTRUNE_MOSQUITTO_SOURCE_DIR}/lib/mosquitto.c" AND CMAKE_HOST_UNIX)
    find_program(KESTRUNE_APT_GET apt-get)
    if(KESTRUNE_APT_GET)
      get_filename_component(_kestrune_deps "${KESTRUNE_MOSQUITTO_SOURCE_DIR}" DIRECTORY)
      execute_process(COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/fetch-debian-source.sh mosquitto
                              ${_kestrune_deps})
    endif()
  endif()
  if(EXISTS "${KESTRUNE_MOSQUITTO_SOURCE_DIR}/lib/mosquitto.c")
    enable_language(C)
    set(_kestrune_mosquitto_lib "${KESTRUNE_MOSQUITTO_SOURCE_DIR}/lib")
    # The C sources of libmosquitto's own build (lib/CMakeLists.txt); those
    # for TLS compile to nothing without WITH_TLS.
    set(_kestrune_mosquitto_sources
        actions.c callbacks.c connect.c handle_auth.c handle_connack.c handle_disconnect.c
        handle_ping.c handle_pubackcomp.c handle_publish.c handle_pubrec.c handle_pubrel.c
        handle_suback.c handle_unsuback.c helpers.c logging_mosq.c loop.c memory_mosq.c
        messages_mosq.c misc_mosq.c mosquitto.c net_mosq_ocsp.c net_mosq.c options.c
        packet_datatypes.c packet_mosq.c property_mosq.c read_handle.c send_connect.c
        send_disconnect.c send_mosq.c send_publish.c send_subscribe.c send_unsubscribe.c
        socks_mosq.c srv_mosq.c strings_mosq.c thread_mosq.c time_mosq.c tls_mosq.c utf8_mosq.c
        util_mosq.c util_topic.c will_mosq.c)
    list(TRANSFORM _kestrune_mosquitto_sources PREPEND "${_kestrune_mosquitto_lib}/")
    add_library(kestrune_mqtt_client STATIC ${_kestrune_mosquitto_sources})
    # Third-party code: built with its own defaults, not with the project's
    # warnings (kestrune_warnings) or their promotion to errors.
    set_target_properties(kestrune_mqtt_client PROPERTIES OUTPUT_NAME mosquitto_static)
    # config.h sits at the top of the source tree; uthash.h and utlist.h come
    # from the source package's deps/ (Debian's own build takes them from
    # uthash-dev, which has no place in a cross build).
    target_include_directories(
      kestrune_mqtt_client PRIVATE "${KESTRUNE_MOSQUITTO_SOURCE_DIR}" "${_kestrune_mosquitto_lib}"
                                   "${KESTRUNE_MOSQUITTO_SOURCE_DIR}/deps")
    # Its public header is all that users see; it lives in include/ beside
    # the broker's headers, which nothing here uses.
    target_include_directories(kestrune_mqtt_client SYSTEM
                               PUBLIC "${KESTRUNE_MOSQUITTO_SOURCE_DIR}/include")
    # The header marks its functions dllimport unless LIBMOSQUITTO_STATIC is
    # defined; the sources test WIN32, which MinGW's compilers leave undefined
    # in strict ISO modes, so it is defined outright.
    target_compile_definitions(kestrune_mqtt_client PUBLIC LIBMOSQUITTO_STATIC
                               PRIVATE WIN32 _CRT_SECURE_NO_WARNINGS _CRT_NONSTDC_NO_DEPRECATE)
    # Sockets, and CryptGenRandom for the client id made up when none is given.
    target_link_libraries(kestrune_mqtt_client PUBLIC ws2_32 advapi32)
    set(KESTRUNE_MQTT_CLIENT_FOUND ON)
  else()
    message(STATUS "No libmosquitto source in ${KESTRUNE_MOSQUITTO_SOURCE_DIR}: the MQTT client "
                   "is left out (cmake/fetch-debian-source.sh mosquitto fetches it)")
  endif()
else()
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(KESTRUNE_MOSQUITTO QUIET IMPORTED_TARGET libmosquitto)
  endif()
  if(KESTRUNE_MOSQUITTO_FOUND)
    add_library(kestrune_mqtt_client INTERFACE)
    target_link_libraries(kestrune_mqtt_client INTERFACE PkgConfig::KESTRUNE_MOSQUITTO)
    # Whether this libmosquitto was built with TLS shows only at run time: its
    # TLS setters answer MOSQ_ERR_NOT_SUPPORTED without it. Debian's has it.
    if(NOT DEFINED KESTRUNE_MOSQUITTO_HAS_TLS)
      include(CheckCXXSourceRuns)
      include(CMakePushCheckState)
      cmake_push_check_state(RESET)
      set(CMAKE_REQUIRED_LIBRARIES PkgConfig::KESTRUNE_MOSQUITTO)
      set(CMAKE_REQUIRED_QUIET ON)
      check_cxx_source_runs(
        [[
#include <mosquitto.h>
int main() {
  mosquitto_lib_init();
  struct mosquitto *client = mosquitto_new(nullptr, true, nullptr);
  int result = client ? mosquitto_tls_insecure_set(client, false) : MOSQ_ERR_NOMEM;
  mosquitto_destroy(client);
  mosquitto_lib_cleanup();
  return result == MOSQ_ERR_SUCCESS ? 0 : 1;
}
]]
        KESTRUNE_MOSQUITTO_HAS_TLS)
      cmake_pop_check_state()
    endif()
    if(KESTRUNE_MOSQUITTO_HAS_TLS)
      target_compile_definitions(kestrune_mqtt_client INTERFACE KESTRUNE_MQTT_TLS=1)
    endif()
    set(KESTRUNE_MQTT_CLIENT_FOUND ON)
  else()
    message(STATUS "No libmosquitto (pkg-config libmosquitto, Debian's libmosquitto-dev): the "
                   "MQTT client is left out")
  endif()
endif()
