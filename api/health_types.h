/*
 * Qarvel: the records of GetHealthInfo. Each command of the health family fills one record
 * type below, caller-zeroed and of fixed layout. Numbers are numbers, in base units (degrees
 * Celsius, volts, RPM, amperes, watts, joules, bytes); a value the source did not give is
 * said so by a flag of its own, never by a magic number.
 */
#ifndef QARVEL_API_HEALTH_TYPES_H
#define QARVEL_API_HEALTH_TYPES_H

/* HEALTH_HWMON and HEALTH_EDAC records. */

/* HEALTH_DISK records. */

#endif /* QARVEL_API_HEALTH_TYPES_H */
