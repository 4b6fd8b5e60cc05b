// Registration of the user interface's QML types.
#pragma once

// Registers every type of the module "com.brovak.scope" 1.0, in the module's fixed order.
void registerQmlTypes();
