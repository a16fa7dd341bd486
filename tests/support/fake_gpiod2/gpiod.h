/* The part of libgpiod 2.2's gpiod.h that the 2.x GPIO calls use, declared exactly as there, so
 * that the same wrapper source builds against this fake and against the real library. */
#ifndef __LIBGPIOD_GPIOD_H__
#define __LIBGPIOD_GPIOD_H__

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct gpiod_chip;
struct gpiod_chip_info;
struct gpiod_line_info;
struct gpiod_line_settings;
struct gpiod_line_config;
struct gpiod_request_config;
struct gpiod_line_request;

struct gpiod_chip* gpiod_chip_open(const char* path);
void gpiod_chip_close(struct gpiod_chip* chip);
struct gpiod_chip_info* gpiod_chip_get_info(struct gpiod_chip* chip);
struct gpiod_line_info* gpiod_chip_get_line_info(struct gpiod_chip* chip, unsigned int offset);
struct gpiod_line_request* gpiod_chip_request_lines(struct gpiod_chip* chip,
                                                    struct gpiod_request_config* req_cfg,
                                                    struct gpiod_line_config* line_cfg);

void gpiod_chip_info_free(struct gpiod_chip_info* info);
const char* gpiod_chip_info_get_label(struct gpiod_chip_info* info);
size_t gpiod_chip_info_get_num_lines(struct gpiod_chip_info* info);

enum gpiod_line_value {
    GPIOD_LINE_VALUE_ERROR = -1,
    GPIOD_LINE_VALUE_INACTIVE = 0,
    GPIOD_LINE_VALUE_ACTIVE = 1,
};

enum gpiod_line_direction {
    GPIOD_LINE_DIRECTION_AS_IS = 1,
    GPIOD_LINE_DIRECTION_INPUT,
    GPIOD_LINE_DIRECTION_OUTPUT,
};

void gpiod_line_info_free(struct gpiod_line_info* info);
bool gpiod_line_info_is_used(struct gpiod_line_info* info);
const char* gpiod_line_info_get_consumer(struct gpiod_line_info* info);

struct gpiod_line_settings* gpiod_line_settings_new(void);
void gpiod_line_settings_free(struct gpiod_line_settings* settings);
int gpiod_line_settings_set_direction(struct gpiod_line_settings* settings,
                                      enum gpiod_line_direction direction);

struct gpiod_line_config* gpiod_line_config_new(void);
void gpiod_line_config_free(struct gpiod_line_config* config);
int gpiod_line_config_add_line_settings(struct gpiod_line_config* config,
                                        const unsigned int* offsets, size_t num_offsets,
                                        struct gpiod_line_settings* settings);
int gpiod_line_config_set_output_values(struct gpiod_line_config* config,
                                        const enum gpiod_line_value* values, size_t num_values);

struct gpiod_request_config* gpiod_request_config_new(void);
void gpiod_request_config_free(struct gpiod_request_config* config);
void gpiod_request_config_set_consumer(struct gpiod_request_config* config, const char* consumer);

void gpiod_line_request_release(struct gpiod_line_request* request);
int gpiod_line_request_set_values(struct gpiod_line_request* request,
                                  const enum gpiod_line_value* values);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* __LIBGPIOD_GPIOD_H__ */
