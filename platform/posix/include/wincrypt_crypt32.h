#pragma once
// crypt32 part of the stand-in: certificate stores and contexts, encoding.
