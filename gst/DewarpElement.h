// The zrfisheyedewarp element: a GStreamer element over one zrfe::Engine. Frames
// enter on "sink" (NV12 or I420); the main view leaves on "src" and sub view i on
// the request pad "sub_<i>", all I420, each frame rendered synchronously on the
// streaming thread.
#ifndef ZRFISHEYE_GST_DEWARPELEMENT_H
#define ZRFISHEYE_GST_DEWARPELEMENT_H

#include <gst/gst.h>

G_BEGIN_DECLS

#define ZRFE_ELEMENT_NAME "zrfisheyedewarp"

GType zrfe_dewarp_get_type(void);
GType zrfe_sub_pad_get_type(void);

// Registers the element with a plugin (null registers it for this process, as
// a statically linked program or test does).
gboolean zrfe_dewarp_register(GstPlugin* plugin);

G_END_DECLS

#endif  // ZRFISHEYE_GST_DEWARPELEMENT_H
