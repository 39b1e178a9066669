/* The module is made of the layer libraries; this file only gives the link a source. */
