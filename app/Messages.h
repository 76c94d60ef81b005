// Every text that the front end itself answers.
#pragma once

inline constexpr const char* kCommandTypeNotFound = "Tipo de comando nao encontrado";
inline constexpr const char* kSubcommandTypeNotFound = "Tipo de sub-comando nao encontrado";
inline constexpr const char* kCommandNotFound = "Comando nao encontrado";
inline constexpr const char* kTokenNotFound = "Token Type ou Serial invalido";
inline constexpr const char* kUnknownError = "Erro desconhecido.";
inline constexpr const char* kListNestedTooDeep = "Lista com aninhamento acima do limite";
// Values off the command line: the path follows as the caller wrote it ("-"
// for standard input).
inline constexpr const char* kValueUnreadable = "Erro na leitura do arquivo: ";
inline constexpr const char* kStandardInputTwice = "Apenas um parametro pode ser lido da entrada padrao";
// A value held whole (a list, a certificate, a ready digest) past the ceiling.
inline constexpr const char* kValueTooLarge = "Valor acima do limite de 64 MiB (67108864 bytes)";
// A PIN written "@-" reads one line of at most 256 bytes.
inline constexpr const char* kLineTooLong = "PIN lido da entrada padrao acima de 256 bytes";
