// Report filters: tokenizers, clause reader, regex wrappers, the service
// table and the filter-string builder. Runs inside throwaway_root: the host
// lookups read a private /etc/hosts and never ask a name server.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "internal/report_record.hpp"
#include "logbase.h"
#include "testkit.hpp"

namespace {

using Tokens = std::vector<std::string>;

std::string take(char *p) {
    std::string s = p != nullptr ? p : "<null>";
    free(p);
    return s;
}

// astrtok with one delimiter (and *pos must end at the text's end), else astrtok_m.
Tokens astrtok_all(const char *text, std::vector<const char *> delims) {
    Tokens tokens;
    int pos = 0;
    if (delims.size() == 1) {
        while (char *t = astrtok(text, delims[0], &pos))
            tokens.push_back(take(t));
        EXPECT_EQ(pos, static_cast<int>(strlen(text)));
        return tokens;
    }
    delims.push_back(nullptr);
    while (char *t = astrtok_m(text, delims.data(), &pos))
        tokens.push_back(take(t));
    return tokens;
}

Tokens quoted_all(std::string text, const char *delims) {
    Tokens tokens;
    char *save = nullptr;
    for (char *t = quoted_strtok_r(text.data(), delims, &save); t != nullptr;
         t = quoted_strtok_r(nullptr, delims, &save))
        tokens.emplace_back(t);
    return tokens;
}

TEST(Tokenizers, WholeStringDelimitersAndQuotedSections) {
    EXPECT_EQ(astrtok_all("a,,b", {","}), (Tokens{"a", "", "b"}));
    EXPECT_EQ(astrtok_all("a,", {","}), (Tokens{"a"}));
    EXPECT_EQ(astrtok_all("x::y", {"::"}), (Tokens{"x", "y"}));
    EXPECT_EQ(astrtok_all("a,b==c", {"==", ","}), (Tokens{"a", "b", "c"}));
    EXPECT_EQ(astrtok_all("k==v", {"=", "=="}), (Tokens{"k", "", "v"}));
    EXPECT_EQ(astrtok_all("ab;", {"==", ";"}), (Tokens{"ab"}));
    EXPECT_EQ(astrtok_all("a;b", {}), (Tokens{"a;b"}));
    int pos = 0;
    EXPECT_EQ(astrtok("a,b", "", &pos), nullptr);
    pos = 99; // beyond the text: the end, not a read past it
    EXPECT_EQ(astrtok("a,b", ",", &pos), nullptr);

    EXPECT_EQ(quoted_all("a \"b c\" d", " "), (Tokens{"a", "b c", "d"}));
    EXPECT_EQ(quoted_all("x\"b c\"y z", " "), (Tokens{"x\"b c\"y", "z"}));
    EXPECT_EQ(quoted_all("\"abc", " "), (Tokens{"abc"}));
    EXPECT_EQ(quoted_all("\"\"", " "), (Tokens{""}));
    EXPECT_EQ(quoted_all("  a,,b ", " ,"), (Tokens{"a", "b"}));
    EXPECT_EQ(quoted_all("a\"b,c", ","), (Tokens{"a\"b,c"})); // unclosed section runs to the end
    char *save = nullptr;
    EXPECT_EQ(quoted_strtok_r(nullptr, " ", &save), nullptr);
}

// "op|value" of the clause read, or "-1".
std::string clause(const char *filter, const char *key, int value_size = 1024) {
    char op[3] = "";
    std::vector<char> value(value_size > 0 ? value_size : 1, '\0');
    char *found = nullptr;
    if (get_op_and_val(filter, key, &found, op, value.data(), value_size) != 0) return "-1";
    EXPECT_EQ(found, strstr(filter, key));
    return std::string(op) + "|" + value.data();
}

std::string boolean(const char *clause, const char *op, int with_key, int size = 256) {
    std::vector<char> out(size + 1, '#');
    char *r = fltrstr_to_boolean(clause, op, out.data(), size, with_key);
    EXPECT_EQ(out[size], '#') << "written past the buffer";
    if (r == nullptr) return "<null>";
    return size > 0 ? r : "";
}

TEST(Clauses, ReadAtFirstOccurrenceAndExpandedToBooleans) {
    const char *filter = "(or priN>='3' user=='alice, bob')";
    EXPECT_EQ(clause(filter, "priN"), ">=|3'");
    EXPECT_EQ(clause(filter, "user"), "==|alice, bob");
    EXPECT_EQ(clause("iwday==Mon,Tue)", "iwday"), "==|Mon,Tue");
    EXPECT_EQ(clause("iwday==Mon user=='x'", "iwday"), "==|Mon user");
    EXPECT_EQ(clause("src!='1.2.3.4) x'", "src"), "!=|1.2.3.4");
    EXPECT_EQ(clause("user=='abcdef'", "user", 4), "==|abc");
    for (const char *bad : {"user == 'x'", "usergroup=='x' user=='y'", "user==='x'", "user<'x'",
                            "user==''", "action=='x'"})
        EXPECT_EQ(clause(bad, "user"), "-1") << bad;
    EXPECT_EQ(clause("priN<=5", "priN"), "-1");
    EXPECT_EQ(clause("user=='x'", "user", 1), "-1");
    EXPECT_EQ(get_op_and_val(nullptr, "user", nullptr, nullptr, nullptr, 8), -1);

    EXPECT_EQ(boolean("user=='alice, bob'", "==", 1), "user=alice OR user=bob");
    EXPECT_EQ(boolean("user!='alice, bob'", "!=", 1), "-user=alice -user=bob");
    EXPECT_EQ(boolean("user='alice, bob'", "=", 1), "-user=alice -user=bob");
    EXPECT_EQ(boolean("user=='alice, bob'", "==", 0), "alice OR bob");
    EXPECT_EQ(boolean("user!='alice, bob'", "!=", 0), "alice OR bob");
    EXPECT_EQ(boolean("user='alice, bob'", "=", 0), "alice bob");
    EXPECT_EQ(boolean("'a,,  b'", "==", 1), "a OR b"); // no key before the operator
    EXPECT_EQ(boolean("user=='\"b c\",,\tcarol\t'", "==", 1), "user=b c OR user=carol");
    EXPECT_EQ(boolean("user=='alice", "==", 1), "");
    EXPECT_EQ(boolean("user=='alice, bob'", "==", 1, 12), "user=alice ");
    EXPECT_EQ(boolean("user=='x'", "==", 1, 0), "");
    EXPECT_EQ(fltrstr_to_boolean("user=='x'", nullptr, nullptr, 8, 1), nullptr);
    // An overlong key and list are cut to the key and working buffers.
    std::string overlong = std::string(300, 'k') + "=='" + std::string(600, 'v') + "'";
    EXPECT_EQ(boolean(overlong.c_str(), "==", 1, 2000),
              std::string(127, 'k') + "=" + std::string(511, 'v'));
}

std::string replaced(const char *pattern, const char *text, int size = 64) {
    char out[64] = "untouched";
    int rc = regex_replace(pattern, text, out, size, "Z");
    return std::to_string(rc) + ":" + out;
}

TEST(Regex, MatchGroupsAndReplace) {
    char match[32] = "untouched";
    EXPECT_EQ(regex_match("b+c", "abbcd", match), 1);
    EXPECT_STREQ(match, "bbc");
    EXPECT_EQ(regex_match("B", "abc", match), 0);
    EXPECT_EQ(regex_match("b", "abc", nullptr), 1);
    EXPECT_LT(regex_match("a[", "a[", match), 0);
    EXPECT_STREQ(match, "bbc");

    char g0[16], g1[16] = "old", g2[16] = "old";
    char *groups[] = {g0, g1, nullptr, g2};
    EXPECT_EQ(regex_match_multi("(a)(x)?(z)?c", "bac", groups, 4), 1);
    EXPECT_STREQ(g0, "ac");
    EXPECT_STREQ(g1, "a");
    EXPECT_STREQ(g2, ""); // group 3 took no part
    EXPECT_EQ(regex_match_multi("a", "bab", nullptr, 0), 1);
    EXPECT_EQ(regex_match_multi("(", "x", groups, 2), regex_match("(", "x", nullptr));

    EXPECT_EQ(replaced("a(b+)c", "xabbcx"), "1:xaZcx");
    EXPECT_EQ(replaced("b+", "xabbcx"), "1:xaZcx");
    EXPECT_EQ(replaced("\\(b", "x(bc"), "1:xZc");
    EXPECT_EQ(replaced("q", "xabbcx"), "0:untouched");
    EXPECT_EQ(replaced("a(q)?b", "xabc"), "1:xZc"); // no group 1: the whole match
    EXPECT_EQ(replaced("a(b+)c", "xabbcx", 4), "1:xaZ");
    EXPECT_LT(regex_replace("a[", "a", match, sizeof match, "Z"), 0);
    EXPECT_EQ(regex_replace("a", "a", nullptr, 8, "Z"), 0);
}

// The names of the well-known ports, transcribed as published: "port name" or
// "first-last name" for one name on both protocols, then "port udp|tcp" ("-": none).
const char *const kServiceList = R"(
0 Reserved 1 tcpmux 2-3 compressnet 5 rje 7 echo 9 discard 11 systat 13 daytime 17 qotd 18 msp 19
chargen 20 ftp-data 21 ftp 22 ssh 23 telnet 24 any 25 smtp 27 nsw-fe 29 msg-icp 31 msg-auth 33 dsp
35 any 37 time 38 rap 39 rlp 41 graphics 42 nameserver 43 nicname 44 mpm-flags 45 mpm 46 mpm-snd 47
ni-ftp 48 auditd 49 tacacs 50 re-mail-ck 51 la-maint 52 xns-time 53 dns 54 xns-ch 55 isi-gl 56
xns-auth 57 any 58 xns-mail 59 any 60 Unassigned 61 ni-mail 62 acas 63 whois++ 64 covia 65 tacacs-ds
66 sql*net 67 bootps 68 bootpc 69 tftp 70 gopher 71 netrjs-1 72 netrjs-2 73 netrjs-3 74 netrjs-4 75
any 76 deos 77 any 78 vettcp 79 finger 80 http 81 hosts2-ns 82 xfer 83 mit-ml-dev 84 ctf 85
mit-ml-dev 86 mfcobol 87 any 88 kerberos 89 su-mit-tg 90 dnsix 91 mit-dov 92 npp 93 dcp 94 objcall
95 supdup 96 dixie 97 swift-rvf 98 tacnews 99 metagram 101 hostname 102 iso-tsap 103 gppitnp 104
acr-nema 105 csnet-ns 106 3com-tsmux 107 rtelnet 108 snagas 109 pop2 110 pop3 111 sunrpc 112 mcidas
113 auth 114 audionews 115 sftp 116 ansanotify 117 uucp-path 118 sqlserv 119 nntp 120 cfdptkt 121
erpc 122 smakynet 123 ntp 124 ansatrader 125 locus-map 126 nxedit 127 locus-con 128 gss-xlicen 129
pwdgen 130 cisco-fna 131 cisco-tna 132 cisco-sys 133 statsrv 134 ingres-net 135 epmap 136 profile
137 netbios-ns 138 netbios-dgm 139 netbios-ssn 140 emfis-data 141 emfis-cntl 142 bl-idm 143 imap 144
uma 145 uaac 146 iso-tp0 147 iso-ip 148 jargon 149 aed-512 150 sql-net 151 hems 152 bftp 153 sgmp
154 netsc-prod 155 netsc-dev 156 sqlsrv 157 knet-cmp 158 pcmail-srv 159 nss-routing 160 sgmp-traps
161 snmp 162 snmptrap 163 cmip-man 164 cmip-agent 165 xns-courier 166 s-net 167 namp 168 rsvd 169
send 170 print-srv 171 multiplex 172 cl/1 173 xyplex-mux 174 mailq 175 vmnet 176 genrad-mux 177
xdmcp 178 nextstep 179 bgp 180 ris 181 unify 182 audit 183 ocbinder 184 ocserver 185 remote-kis 186
kis 187 aci 188 mumps 189 qft 190 gacp 191 prospero 192 osu-nms 193 srmp 194 irc 195 dn6-nlm-aud 196
dn6-smm-red 197 dls 198 dls-mon 199 smux 200 src 201 at-rtmp 202 at-nbp 203 at-3 204 at-echo 205
at-5 206 at-zis 207 at-7 208 at-8 209 qmtp 210 z39.50 211 914c/g 212 anet 213 ipx 214 vmpwscs 215
softpc 216 CAIlic 217 dbase 218 mpp 219 uarps 220 imap3 221 fln-spx 222 rsh-spx 223 cdc 224
masqdialer 242 direct 243 sur-meas 244 inbusiness 245 link 246 dsp3270 247 subntbcst_tftp 248 bhfhs
256 rap 257 set 258 yak-chat 259 esro-gen 260 openport 261 nsiiops 262 arcisdms 263 hdap 264 bgmp
265 x-bone-ctl 266 sst 267 td-service 268 td-replica 280 http-mgmt 281 personal-link 282
cableport-ax 283 rescap 284 corerjd 286 fxp 287 k-block 308 novastorbakcup 309 entrusttime 310 bhmds
311 asip-webadmin 312 vslmp 313 magenta-logic 314 opalis-robot 315 dpsi 316 decauth 317 zannet 318
pkix-timestamp 319 ptp-event 320 ptp-general 321 pip 322 rtsps 333 texar 344 pdap 345 pawserv 346
zserv 347 fatserv 348 csi-sgwp 349 mftp 350 matip-type-a 351 matip-type-b 352 bhoedap4 353 ndsauth
354 bh611 355 datex-asn 356 cloanto-net-1 357 bhevent 358 shrinkwrap 359 nsrmp 360 scoi2odialog 361
semantix 362 srssend 363 rsvp_tunnel 364 aurora-cmgr 365 dtk 366 odmr 367 mortgageware 368 qbikgdp
369 rpc2portmap 370 codaauth2 371 clearcase 372 ulistproc 373 legent-1 374 legent-2 375 hassle 376
nip 377 tnETOS 378 dsETOS 379 is99c 380 is99s 381 hp-collector 382 hp-managed-node 383 hp-alarm-mgr
384 arns 385 ibm-app 386 asa 387 aurp 388 unidata-ldm 389 ldap 390 uis 391 synotics-relay 392
synotics-broker 393 meta5 394 embl-ndt 395 netcp 396 netware-ip 397 mptn 398 kryptolan 399
iso-tsap-c2 400 work-sol 401 ups 402 genie 403 decap 404 nced 405 ncld 406 imsp 407 timbuktu 408
prm-sm 409 prm-nm 410 decladebug 411 rmt 412 synoptics-trap 413 smsp 414 infoseek 415 bnet 416
silverplatter 417 onmux 418 hyper-g 419 ariel1 420 smpte 421 ariel2 422 ariel3 423 opc-job-start 424
opc-job-track 425 icad-el 426 smartsdp 427 svrloc 428 ocs_cmu 429 ocs_amu 430 utmpsd 431 utmpcd 432
iasd 433 nnsp 434 mobileip-agent 435 mobilip-mn 436 dna-cml 437 comscm 438 dsfgw 439 dasp 440 sgcp
441 decvms-sysmgt 442 cvc_hostd 443 https 444 snpp 445 microsoft-ds 446 ddm-rdb 447 ddm-dfm 448
ddm-ssl 449 as-servermap 450 tserver 451 sfs-smp-net 452 sfs-config 453 creativeserver 454
contentserver 455 creativepartnr 457 scohelp 458 appleqtc 459 ampr-rcmd 460 skronk 461 datasurfsrv
462 datasurfsrvsec 463 alpes 464 kpasswd 466 digital-vrc 467 mylex-mapd 468 photuris 469 rcp 470
scx-proxy 471 mondex 472 ljk-login 473 hybrid-pop 475 tcpnethaspsrv 476 tn-tl-fd1 477 ss7ns 478 spsc
479 iafserver 480 iafdbase 481 ph 482 bgs-nsi 483 ulpnet 484 integra-sme 485 powerburst 486 avian
487 saft 488 gss-http 489 nest-protocol 490 micom-pfs 491 go-login 492 ticf-1 493 ticf-2 494 pov-ray
495 intecourier 496 pim-rp-disc 497 dantz 498 siam 499 iso-ill 500 isakmp 501 stmf 502
asa-appl-proto 503 intrinsa 504 citadel 505 mailbox-lm 506 ohimsrv 507 crs 508 xvttp 509 snare 510
fcp 511 passgo 515 printer 516 videotex 517 talk 518 ntalk 519 utime 521 ripng 522 ulp 523 ibm-db2
524 ncp 525 timed 526 tempo 527 stx 528 custix 529 irc-serv 530 courier 531 conference 532 netnews
533 netwall 534 mm-admin 535 iiop 536 opalis-rdv 537 nmsp 538 gdomap 539 apertus-ldp 540 uucp 541
uucp-rlogin 542 commerce 543 klogin 544 kshell 545 appleqtcsrvr 546 dhcpv6-client 547 dhcpv6-server
548 afpovertcp 549 idfp 550 new-rwho 551 cybercash 552 devshr-nts 553 pirp 554 rtsp 555 dsf 556
remotefs 557 openvms-sysipc 558 sdnskmp 559 teedtap 560 rmonitor 561 monitor 562 chshell 563 nntps
564 9pfs 565 whoami 566 streettalk 567 banyan-rpc 568 ms-shuttle 569 ms-rome 570-571 meter 572 sonar
573 banyan-vip 574 ftp-agent 575 vemmi 576 ipcd 577 vnas 578 ipdd 579 decbsrv 580 sntp-heartbeat 581
bdp 582 scc-security 583 philips-vc 584 keyserver 585 imap4-ssl 586 password-chg 587 submission 588
cal 589 eyelink 590 tns-cml 591 http-alt 592 eudora-set 593 http-rpc-epmap 594 tpip 595 cab-protocol
596 smsd 597 ptcnameservice 598 sco-websrvrmg3 599 acp 600 ipcserver 601 syslog-conn 602 xmlrpc-beep
603 idxp 604 tunnel 605 soap-beep 606 urm 607 nqs 608 sift-uft 609 npmp-trap 610 npmp-local 611
npmp-gui 612 hmmp-ind 613 hmmp-op 614 sshell 615 sco-inetmgr 616 sco-sysmgr 617 sco-dtmgr 618
dei-icda 619 compaq-evm 620 sco-websrvrmgr 621 escp-ip 622 collaborator 623 asf-rmcp 624 cryptoadmin
625 dec_dlm 626 asia 627 passgo-tivoli 628 qmqp 629 3com-amp3 630 rda 631 ipp 632 bmpp 633 servstat
634 ginad 635 rlzdbase 636 ldaps 637 lanserver 638 mcns-sec 639 msdp 640 entrust-sps 641 repcmd 642
esro-emsdp 643 sanity 644 dwr 645 pssc 646 ldp 647 dhcp-failover 648 rrp 649 cadview-3d 650 obex 651
ieee-mms 652 hello-port 653 repscmd 654 aodv 655 tinc 656 spmp 657 rmc 658 tenfold 660
mac-srvr-admin 661 hap 662 pftp 663 purenoise 664 asf-secure-rmcp 665 sun-dr 666 doom 667 disclose
668 mecomm 669 meregister 670 vacdsm-sws 671 vacdsm-app 672 vpps-qua 673 cimplex 674 acap 675 dctp
676 vpps-via 677 vpp 678 ggf-ncp 679 mrm 680 entrust-aaas 681 entrust-aams 682 xfr 683 corba-iiop
684 corba-iiop-ssl 685 mdc-portmapper 686 hcp-wismar 687 asipregistry 688 realm-rusd 689 nmap 690
vatp 691 msexch-routing 692 hyperwave-isp 693 connendp 694 ha-cluster 695 ieee-mms-ssl 696 rushd 697
uuidgen 698 olsr 699 accessnetwork 700 epp 704 elcsd 705 agentx 706 silc 707 borland-dsj 709
entrust-kmsh 710 entrust-ash 711 cisco-tdp 729 netviewdm1 730 netviewdm2 731 netviewdm3 741 netgw
742 netrcs 744 flexlm 747 fujitsu-dev 748 ris-cm 749 kerberos-adm 751 pump 752 qrh 753 rrh 754 tell
758 nlogin 759 con 760 ns 761 rxe 762 quotad 763 cycleserv 764 omserv 765 webster 767 phonebook 769
vid 770 cadlock 771 rtip 772 cycleserv2 776 wpages 777 multiling-http 780 wpgs 800 mdbs_daemon 801
device 810 fcp-udp 828 itm-mcell-s 829 pkix-3-ca-ra 847 dhcp-failover2 848 gdoi 860 iscsi 873 rsync
886 iclcnet-locate 887 iclcnet_svinfo 900 omginitialrefs 901 smpnameres 902 ideafarm-chat 903
ideafarm-catch 911 xact-backup 912 apex-mesh 913 apex-edge 989 ftps-data 990 ftps 991 nas 992
telnets 993 imaps 994 ircs 995 pop3s 996 vsinet 997 maitrd 999 puprouter 1000 cadlock2 1010 surf
1023 Reserved
100 -|newacct 456 macon-udp|macon-tcp 465 igmpv3lite|urd 474 tn-tl-w2|tn-tl-w1 512 biff|exec 513
who|login 514 syslog|shell 520 router|efs 750 kerberos-iv|rfile 773 notify|submit 774
acmaint_dbd|rpasswd 775 acmaint_transd|entomb 888 accessbuilder|cddbp 998 puparp|busboy
)";

using Names = std::array<std::string, 2>; // UDP, TCP: indexed by the protocol argument

std::map<int, Names> expected_services() {
    std::map<int, Names> rows;
    std::stringstream list(kServiceList);
    std::string ports, name;
    while (list >> ports >> name) {
        size_t dash = ports.find('-'), bar = name.find('|');
        int first = std::stoi(ports);
        int last = dash == std::string::npos ? first : std::stoi(ports.substr(dash + 1));
        Names names{name.substr(0, bar), bar == std::string::npos ? name : name.substr(bar + 1)};
        if (names[0] == "-") names[0].clear();
        for (int port = first; port <= last; ++port)
            rows[port] = names;
    }
    return rows;
}

TEST(ServiceTable, EveryPortAndProtocolMatchesThePublishedList) {
    std::map<int, Names> rows = expected_services();
    ASSERT_EQ(rows.size(), 682u);
    ASSERT_EQ(std::count_if(rows.begin(), rows.end(),
                            [](const auto &row) { return row.second[0] == row.second[1]; }),
              668);
    // Every name, asked in upper case, leads to its lowest port (UDP entry first);
    // port 0 is reachable only so.
    auto upper = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), ::toupper);
        return s;
    };
    std::map<std::string, std::pair<int, int>> lowest; // name -> port, protocol code
    for (const auto &[port, n] : rows) {
        if (!n[0].empty()) lowest.emplace(upper(n[0]), std::pair(port, n[0] == n[1] ? 3 : 0));
        lowest.emplace(upper(n[1]), std::pair(port, 1));
    }
    for (const auto &[name, want] : lowest) {
        int proto = -1;
        EXPECT_EQ(fn_getportbyname_3(&proto, name.c_str()), want.first) << name;
        EXPECT_EQ(proto, want.second) << name;
    }
    for (int port = 1; port < 1024; ++port)
        for (int proto : {0, 1}) {
            const char *got = fn_getservbyport_3(proto, port, nullptr);
            EXPECT_EQ(got ? got : "", rows[port][proto]) << "port " << port << " proto " << proto;
        }
}

TEST(ServiceTable, LookupRulesAndSmallConveniences) {
    EXPECT_STREQ(fn_getservbyport_3(1, 0, "80"), "http");
    EXPECT_STREQ(fn_getservbyport_3(0, 0, "53"), "dns");
    EXPECT_STREQ(fn_getservbyport_3(5, -3, "514/x"), "shell");
    EXPECT_STREQ(fn_getservbyport_3(-1, 80, "22"), "http");
    for (const char *text : {"0", "1024", "http", "-1", static_cast<const char *>(nullptr)})
        EXPECT_EQ(fn_getservbyport_3(1, 0, text), nullptr) << (text ? text : "NULL");
    int proto = 42;
    EXPECT_EQ(fn_getportbyname_3(&proto, "no-such-service"), -1);
    EXPECT_EQ(proto, 42);

    EXPECT_EQ(qspredef_val("ALL"), 2);
    EXPECT_EQ(qspredef_val("some"), -1);
    EXPECT_STREQ(qspredef_name(3), "none");
    EXPECT_EQ(qspredef_name(4), nullptr);
    const std::pair<unsigned long, unsigned long> mebibytes[] = {
        {524287, 0}, {524288, 1}, {1572863, 1}, {1572864, 2}};
    for (const auto &[bytes, rounded] : mebibytes)
        EXPECT_EQ(roundMB(bytes), rounded) << bytes;
}

class FilterString : public ::testing::Test {
  protected:
    static inline bool ready = false;
    // Host lookups read only the private /etc/hosts of the throwaway root.
    static void SetUpTestSuite() {
        ready = getenv("LOGBASE_THROWAWAY_ROOT") != nullptr &&
                testkit::write_file("/etc/nsswitch.conf", "hosts: files\n") &&
                testkit::write_file("/etc/hosts", "127.0.0.1 localhost\n"
                                                  "192.0.2.7 filterhost.test\n");
    }
    void SetUp() override {
        if (!ready) GTEST_SKIP() << "needs the throwaway root for /etc/hosts";
    }
    // The flat string of `text` placed into a report definition record.
    static std::string build(const std::string &text, size_t out_size = 8096) {
        std::vector<char> record(lb::report_record::kFilterText + text.size() + 1, '\0');
        memcpy(record.data() + lb::report_record::kFilterText, text.c_str(), text.size());
        std::vector<char> out(out_size + 1, '#');
        out[0] = '\0';
        EXPECT_EQ(get_report_fltrstr(record.data(), out.data(), out_size), 0);
        EXPECT_EQ(out[out_size], '#') << "written past the caller's buffer";
        return out.data();
    }
};

TEST_F(FilterString, FilterTextBecomesFlatString) {
    const std::pair<const char *, const char *> cases[] = {
        {"(or priN<='5' user!='alice,bob' service=='http, 53/udp')",
         "pri=notice OR pri=information OR pri=debug OR -user=alice -user=bob OR service=http "
         "OR service=80/tcp OR service=80/udp OR service=53/udp OR service=dns"},
        {"priN<='5' user=='bob'", "pri=notice OR pri=information OR pri=debug user=bob"},
        {"priN>='1'", "pri=emergency OR pri=alert"},
        {"priN=='7'", "pri=debug"},
        {"priN!='3'", ""},
        {"priN>='9'", "pri=emergency OR pri=alert OR pri=critical OR pri=error OR pri=warning OR "
                      "pri=notice OR pri=information OR pri=debug"},
        {"priN<='9'", ""},
        {"src=='10.0.0.1'", "src=10.0.0.1 OR laddr=10.0.0.1 OR loc_ip=10.0.0.1 OR client=10.0.0.1"},
        {"dst!='10.0.0.0/8'", "-dst=10.0.0.0/8 -raddr=10.0.0.0/8 -rem_ip=10.0.0.0/8 "
                              "-server=10.0.0.0/8"},
        {"dst=='filterhost.test'", "dst=192.0.2.7 OR raddr=192.0.2.7 OR rem_ip=192.0.2.7 OR "
                                   "server=192.0.2.7"},
        {"service=='exec'", "service=exec OR service=512/tcp"},
        {"service=='biff'", "service=biff OR service=512/udp"},
        {"service!='80/TCP'", "-service=80/TCP -service=http"},
        {"service=='9999/tcp'", "service=9999/tcp"},
        {"service=='nosuchsvc'", "service=nosuchsvc"},
        {"service=='http, 9999/tcp'",
         "service=http OR service=80/tcp OR service=80/udp OR service=9999/tcp"},
        {"iwday==Mon,Wed)", "iwday=1 OR iwday=3"},
        {"iwday==Mon, Wed)", "iwday=1"},
        {"iwday!=Sun)", "iwday=0"},
        {"msg=='disk full, retry'", "msg=disk full OR msg= retry"},
        {"msg=='bad user' user=='bob'", "msg=bad user"},
        // Groups join in a fixed order, each with its own operator.
        {"(or msg!='m' policy='p q' subtype=='s' action!='a' http_method=='GET' dst=='2.2.2.2' "
         "src!='1.1.1.1' iwday==Sat) priN==-1' service='ssh'",
         "iwday=6 OR -src=1.1.1.1 -laddr=1.1.1.1 -loc_ip=1.1.1.1 -client=1.1.1.1 OR "
         "dst=2.2.2.2 OR raddr=2.2.2.2 OR rem_ip=2.2.2.2 OR server=2.2.2.2 OR "
         "http_method=GET OR -action=a OR subtype=s OR policy=p policy=q OR "
         "service=ssh OR service=22/tcp OR service=22/udp OR -msg=m"},
        // Malformed clauses leave only their own group empty.
        {"user == 'x' action==='y' priN<'3' policy=='ok' subtype=='open", "subtype=open policy=ok"},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(build(text), expected) << text;
}

TEST_F(FilterString, BoundedBuffersCutWhereTheyEnd) {
    // A clause beyond the first 1023 characters is not read.
    EXPECT_EQ(build("user=='bob'" + std::string(1020, ' ') + "action=='deny'"), "user=bob");
    // A service token's text stops at 127 characters.
    EXPECT_EQ(build("service=='" + std::string(200, 'x') + "'"),
              ("service=" + std::string(200, 'x')).substr(0, 127));
    // Each address group stops at 4095 characters, the result at 8095.
    std::string many;
    for (int i = 0; i < 62; ++i)
        many += "1.1.1.1,";
    std::string result = build("src=='" + many + "' dst=='" + many + "'");
    ASSERT_EQ(result.size(), 8095u);
    EXPECT_EQ(result.substr(0, 12), "src=1.1.1.1 ");
    EXPECT_EQ(result.substr(4095, 5), " dst=");
    // The caller's size bounds the copy; without a filter text nothing is written.
    EXPECT_EQ(build("priN=='0'", 8), "pri=eme");
    char out[8] = "kept";
    std::vector<char> record(lb::report_record::kFilterText + 1, '\0');
    EXPECT_EQ(get_report_fltrstr(record.data(), out, sizeof out), 0);
    EXPECT_EQ(get_report_fltrstr(nullptr, out, sizeof out), 0);
    EXPECT_STREQ(out, "kept");
}

TEST_F(FilterString, AddressTermsAndHostLookup) {
    char buf[16] = "x"; // "==" and "!=" are in the worked examples
    add_src_or_dst_filter(buf, sizeof buf, "=", "src", "d");
    EXPECT_STREQ(buf, "x src=d");
    char small[8] = "";
    add_src_or_dst_filter(small, sizeof small, "!=", "server", "10.0.0.1");
    EXPECT_STREQ(small, "-server");

    EXPECT_EQ(take(resolve_IP("10.1.2.3")), "10.1.2.3");
    EXPECT_EQ(resolve_IP("unknown.test"), nullptr);
    EXPECT_EQ(resolve_IP(nullptr), nullptr);
}

} // namespace
