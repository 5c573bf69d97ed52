// The look-at camera of the 3D scenes: one gluLookAt with up +Y.
//
// Main thread, with the modelview matrix current. World units.
#include "render/camera.h"

#include <GL/gl.h>
#include <GL/glu.h>

void Camera::apply() {
    Vec3 center = target;
    if (relative) {
        // Summed in single precision, as the fields are stored.
        center = Vec3(eye.x + target.x, eye.y + target.y, eye.z + target.z);
    }
    gluLookAt(eye.x, eye.y, eye.z, center.x, center.y, center.z, 0.0, 1.0, 0.0);
}
