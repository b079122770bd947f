#pragma once
// The resource of davari.exe (RCDATA, this number) that lists the release keys it trusts
// (core/launcher_keys.h). Included by the resource script the launcher's build writes and
// by the reader, so that both name the same resource; plain preprocessor, as the resource
// compiler reads it too.

#define KORVEL_RELEASE_KEYS_RESOURCE 202
