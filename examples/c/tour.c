/* The C interface in plain C99: find a sensor, change a parameter group and
 * read it back, take a profile, fetch the image. Exits 0 when every step
 * worked. */
#include <vorex_c.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fail(vorex_c_session* sensor, const char* step) {
    printf("%s failed: %s\n", step, vorex_c_error_msg(sensor));
    return 1;
}

/* Reads the laser group, changes its first byte, writes it and reads it
 * back; the bytes' meaning is the sensor's. */
static int change_laser_group(vorex_c_session* sensor) {
    uint8_t laser[36];
    uint8_t again[sizeof laser];
    if (vorex_c_group_size(VOREX_C_LASER) != sizeof laser) return fail(sensor, "group size");
    if (!vorex_c_read_group(sensor, VOREX_C_LASER, laser, sizeof laser)) return fail(sensor, "laser read");
    laser[0] = (uint8_t)(laser[0] + 1);
    if (!vorex_c_write_group(sensor, VOREX_C_LASER, laser, sizeof laser)) return fail(sensor, "laser write");
    if (!vorex_c_read_group(sensor, VOREX_C_LASER, again, sizeof again)) return fail(sensor, "laser read back");
    if (memcmp(laser, again, sizeof laser) != 0) return fail(sensor, "laser comparison");
    printf("laser group: first byte now %u, read back alike\n", (unsigned)again[0]);
    return 0;
}

/* Profiles come unasked; each call waits at most one receive timeout. */
static int take_profile(vorex_c_session* sensor) {
    static vorex_c_point_t points[VOREX_C_MAX_POINTS];
    vorex_c_profile_header_t header;
    size_t count = 0;
    int tries;
    for (tries = 0; tries < 50; ++tries) {
        if (vorex_c_get_result(sensor, &header, points, VOREX_C_MAX_POINTS, &count, NULL, 0, NULL)) {
            printf("profile: type %u, %lu points\n", (unsigned)header.data_type, (unsigned long)count);
            return 0;
        }
    }
    return fail(sensor, "profile");
}

static int fetch_image(vorex_c_session* sensor) {
    unsigned char* image = malloc(VOREX_C_IMAGE_SIZE);
    unsigned long sum = 0;
    size_t i;
    int ok;
    if (!image) return 1;
    ok = vorex_c_get_image(sensor, image, VOREX_C_IMAGE_SIZE);
    for (i = 0; ok && i < VOREX_C_IMAGE_SIZE; ++i) sum += image[i];
    free(image);
    if (!ok) return fail(sensor, "image");
    printf("image: %u bytes, byte sum %lu\n", VOREX_C_IMAGE_SIZE, sum);
    return 0;
}

int main(void) {
    vorex_c_session_list* found;
    vorex_c_session* sensor;
    const vorex_c_device_info_t* info;
    const uint8_t* ip;
    int status = 1;

    if (!vorex_c_init()) return 1;
    printf("vorex C interface, library version 0x%08lx\n", (unsigned long)vorex_c_version());
    found = vorex_c_search(NULL);
    printf("%lu sensor(s)\n", (unsigned long)vorex_c_list_count(found));
    sensor = vorex_c_list_session(found, 0);
    if (sensor) {
        info = vorex_c_info(sensor);
        ip = (const uint8_t*)&info->ip_address; /* network byte order: first octet first */
        printf("sensor %lu at %u.%u.%u.%u\n", (unsigned long)info->serial, ip[0], ip[1], ip[2], ip[3]);
        if (!vorex_c_connect(sensor))
            fail(sensor, "connect");
        else if (!change_laser_group(sensor) && !take_profile(sensor) && !fetch_image(sensor))
            status = 0;
    }
    vorex_c_free_list(found);
    vorex_c_cleanup();
    return status;
}
