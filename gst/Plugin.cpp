// The zrfisheye GStreamer plugin: one element, zrfisheyedewarp.
#include <gst/gst.h>

#include "DewarpElement.h"

#ifndef PACKAGE
#define PACKAGE "zrfisheye"
#endif

static gboolean PluginInit(GstPlugin* plugin)
{
    return zrfe_dewarp_register(plugin);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, zrfisheye, "ZRFishEye fisheye dewarping", PluginInit,
                  ZRFISHEYE_VERSION, "Proprietary", "ZRFishEye", "ZRFishEye")
